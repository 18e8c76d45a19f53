#pragma once
// The terminal simulator library: everything tests need in one include.
#include "tools/termsim/faults.h"
#include "tools/termsim/journal.h"
#include "tools/termsim/protocol_handler.h"
#include "tools/termsim/scanner.h"
#include "tools/termsim/simulator.h"
#include "tools/termsim/terminal_state.h"
