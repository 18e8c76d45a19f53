#pragma once
// The component runtime of the platform layer, all in one include.
#include "platform/com/class_factory.h"
#include "platform/com/connection_point.h"
#include "platform/com/dispatch.h"
#include "platform/com/dispatch_table.h"
#include "platform/com/error_info.h"
#include "platform/com/guid.h"
#include "platform/com/hresult.h"
#include "platform/com/property_notify.h"
#include "platform/com/types.h"
#include "platform/com/unknown.h"
#include "platform/com/variant.h"
