#include "testbench/vistel_object.h"

#include "forms/qt_text.h"

namespace mirelo {

TVistelObject::TVistelObject(ComPtr<TVistelEventSink> sink)
    : object_(createVistelObject<IVistel4>()),
      events_(std::make_unique<TEventConnection>(*object_, sink.get())) {}

TVistelObject::~TVistelObject() = default;

void TVistelObject::check(HRESULT hr, const char* member) {
  checkMemberCall(hr, member);
}

int32_t TVistelObject::call(HRESULT (IVistel4::*method)(LONG*), const char* member) {
  LONG result = 0;
  check((object_.get()->*method)(&result), member);
  return result;
}

int32_t TVistelObject::getLong(HRESULT (IVistel4::*get)(LONG*), const char* member) {
  LONG value = 0;
  check((object_.get()->*get)(&value), member);
  return value;
}

QString TVistelObject::getText(HRESULT (IVistel4::*get)(BSTR*), const char* member) {
  BSTR value;
  check((object_.get()->*get)(&value), member);
  return fromWide(value);
}

bool TVistelObject::getBool(HRESULT (IVistel4::*get)(VARIANT_BOOL*), const char* member) {
  VARIANT_BOOL value = VARIANT_FALSE;
  check((object_.get()->*get)(&value), member);
  return value != VARIANT_FALSE;
}

std::string TVistelObject::DataBlockBytes() {
  Variant value;
  check(object_->get_DataBlockSA(&value), "DataBlockSA");
  return value.toBytes();
}

}  // namespace mirelo
