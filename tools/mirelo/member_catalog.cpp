#include "tools/mirelo/member_catalog.h"

#include <stdexcept>

#include "platform/com/hresult.h"
#include "platform/cp1251.h"
#include "platform/format.h"

namespace mirelo::shell {
namespace {

void check(HRESULT hr, const char* what) {
  if (FAILED(hr))
    throw std::runtime_error(format("cannot read the object's type information (%s: %s)", what,
                                    hresultMessage(hr).c_str()));
}

}  // namespace

MemberCatalog::MemberCatalog(IDispatch& object) {
  ComPtr<ITypeInfo> info;
  check(object.GetTypeInfo(0, LOCALE_USER_DEFAULT, info.put()), "GetTypeInfo");
  if (!info) throw std::runtime_error("the object has no type information");
  TYPEATTR* attr = nullptr;
  check(info->GetTypeAttr(&attr), "GetTypeAttr");
  const WORD count = attr->cFuncs;
  info->ReleaseTypeAttr(attr);

  for (UINT i = 0; i < count; ++i) {
    FuncDescHolder holder{*info};
    check(info->GetFuncDesc(i, &holder.desc), "GetFuncDesc");
    const FUNCDESC& desc = *holder.desc;

    // A property's read and write entries share one identifier.
    MemberInfo* member = nullptr;
    for (MemberInfo& known : members_)
      if (known.dispid == desc.memid) member = &known;
    if (!member) {
      BSTR name, help;
      check(info->GetDocumentation(desc.memid, &name, &help, nullptr, nullptr), "GetDocumentation");
      members_.push_back(
          MemberInfo{wideToUtf8(name), wideToUtf8(help), desc.memid,
                     desc.invkind == INVOKE_FUNC ? MemberKind::Method : MemberKind::Property,
                     VT_EMPTY, false, false});
      keys_.push_back(Keys{wideToAnsi(name), wideToAnsi(help)});
      member = &members_.back();
    }
    switch (desc.invkind) {
      case INVOKE_FUNC:
        member->type = desc.elemdescFunc.tdesc.vt;
        break;
      case INVOKE_PROPERTYGET:
        member->readable = true;
        member->type = desc.elemdescFunc.tdesc.vt;
        break;
      case INVOKE_PROPERTYPUT:
      case INVOKE_PROPERTYPUTREF:
        member->writable = true;
        if (!member->readable && desc.cParams > 0)
          member->type = desc.lprgelemdescParam[desc.cParams - 1].tdesc.vt;
        break;
    }
  }
}

const MemberInfo* MemberCatalog::find(std::string_view name) const {
  std::u16string wide = utf8ToWide(name);
  std::string ansi = wideToAnsi(wide);
  // A character that Windows-1251 lacks would turn into '?' and could match
  // by accident; such a name matches nothing.
  if (name.empty() || ansiToWide(ansi) != wide) return nullptr;
  for (size_t i = 0; i < members_.size(); ++i)
    if (ansiSameText(keys_[i].name, ansi)) return &members_[i];
  for (size_t i = 0; i < members_.size(); ++i)
    if (!keys_[i].help.empty() && ansiSameText(keys_[i].help, ansi)) return &members_[i];
  return nullptr;
}

}  // namespace mirelo::shell
