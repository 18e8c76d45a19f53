#pragma once
// One-dimensional arrays of VARIANT, as the 1C:Enterprise add-in interfaces
// pass them (GetInfo, CallAsProc, CallAsFunc). The byte arrays of variant.h
// know only VT_UI1; these carry FADF_VARIANT and are made, read and freed
// only through the functions here.
#include "platform/com/variant.h"

namespace mirelo {

constexpr USHORT FADF_VARIANT = 0x800;

// An array of count empty variants with bounds lowerBound..lowerBound+count-1;
// null when the upper bound would overflow or memory runs out.
SAFEARRAY* createVariantArray(LONG lowerBound, ULONG count);
// Clears every element and frees the array. E_INVALIDARG for null or for an
// array that is not a variant array; DISP_E_ARRAYISLOCKED while locked.
HRESULT destroyVariantArray(SAFEARRAY* array);
// True for an array made by createVariantArray.
bool isVariantArray(const SAFEARRAY* array);
// The element at index, or null for an array that is not a variant array
// or an index outside its bounds.
VARIANT* variantArrayElement(SAFEARRAY* array, LONG index);

// Owns one variant array.
class VariantArray {
 public:
  VariantArray(LONG lowerBound, ULONG count);  // raises EOleSysError(E_OUTOFMEMORY)
  ~VariantArray();
  VariantArray(const VariantArray&) = delete;
  VariantArray& operator=(const VariantArray&) = delete;

  SAFEARRAY* get() const { return array_; }
  // For an in/out parameter of type SAFEARRAY**.
  SAFEARRAY** address() { return &array_; }
  // Null outside the bounds.
  VARIANT* at(LONG index) const { return variantArrayElement(array_, index); }

 private:
  SAFEARRAY* array_;
};

}  // namespace mirelo
