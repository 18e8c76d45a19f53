#include "platform/com/variant_array.h"

#include <limits>
#include <new>

namespace mirelo {

SAFEARRAY* createVariantArray(LONG lowerBound, ULONG count) {
  if (int64_t{lowerBound} + int64_t{count} - 1 > std::numeric_limits<LONG>::max()) return nullptr;
  auto* array = new (std::nothrow) SAFEARRAY{};
  if (!array) return nullptr;
  if (count > 0) {
    // Variant adds no data to VARIANT, so its array is an array of VARIANT
    // whose elements clear themselves when it is deleted.
    Variant* elements = new (std::nothrow) Variant[count];
    if (!elements) {
      delete array;
      return nullptr;
    }
    array->pvData = static_cast<VARIANT*>(elements);
  }
  array->cDims = 1;
  array->fFeatures = FADF_VARIANT | FADF_HAVEVARTYPE;
  array->cbElements = sizeof(VARIANT);
  array->rgsabound[0] = {count, lowerBound};
  return array;
}

bool isVariantArray(const SAFEARRAY* array) {
  return array && array->cDims == 1 && (array->fFeatures & FADF_VARIANT) &&
         array->cbElements == sizeof(VARIANT);
}

HRESULT destroyVariantArray(SAFEARRAY* array) {
  if (!isVariantArray(array)) return E_INVALIDARG;
  if (array->cLocks > 0) return DISP_E_ARRAYISLOCKED;
  delete[] static_cast<Variant*>(static_cast<VARIANT*>(array->pvData));
  delete array;
  return S_OK;
}

VARIANT* variantArrayElement(SAFEARRAY* array, LONG index) {
  if (!isVariantArray(array)) return nullptr;
  int64_t offset = int64_t{index} - array->rgsabound[0].lLbound;
  if (offset < 0 || offset >= int64_t{array->rgsabound[0].cElements}) return nullptr;
  return static_cast<VARIANT*>(array->pvData) + offset;
}

VariantArray::VariantArray(LONG lowerBound, ULONG count)
    : array_(createVariantArray(lowerBound, count)) {
  if (!array_) throw EOleSysError(E_OUTOFMEMORY);
}

VariantArray::~VariantArray() {
  if (array_) destroyVariantArray(array_);
}

}  // namespace mirelo
