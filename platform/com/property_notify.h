#pragma once
// IPropertyNotifySink: the container's sink for property changes of a control.
#include "platform/com/types.h"
#include "platform/com/unknown.h"

namespace mirelo {

inline constexpr IID IID_IPropertyNotifySink{
    0x9BFBBC02, 0xEFF1, 0x101A, {0x84, 0xED, 0x00, 0xAA, 0x00, 0x34, 0x1D, 0x07}};

class IPropertyNotifySink : public IUnknown {
 public:
  static constexpr const IID& kIid = IID_IPropertyNotifySink;
  using Base = IUnknown;

  virtual HRESULT OnChanged(DISPID dispID) = 0;
  virtual HRESULT OnRequestEdit(DISPID dispID) = 0;

 protected:
  ~IPropertyNotifySink() = default;
};

}  // namespace mirelo
