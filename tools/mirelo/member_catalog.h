#pragma once
// The members of an automation object as its type information describes
// them (IDispatch::GetTypeInfo(0)): name, dispatch identifier, kind, type and
// help string. Items name a member by its English name or by its help
// string, in any letter case (Windows-1251 rules, Cyrillic included).
#include <string>
#include <string_view>
#include <vector>

#include "platform/com/dispatch.h"
#include "platform/com/variant.h"

namespace mirelo::shell {

enum class MemberKind { Method, Property };

struct MemberInfo {
  std::string name;  // English, UTF-8 (as output lines print it)
  std::string help;  // UTF-8; empty for a member without a help string
  DISPID dispid = DISPID_UNKNOWN;
  MemberKind kind = MemberKind::Method;
  // A method's result (VT_I4: a result code, VT_VOID: none); a property's
  // value type.
  VARTYPE type = VT_EMPTY;
  bool readable = false;
  bool writable = false;
};

class MemberCatalog {
 public:
  // Reads the object's type information; raises std::runtime_error when the
  // object has none or it cannot be read.
  explicit MemberCatalog(IDispatch& object);

  // The member whose name or help string is name (UTF-8), or null.
  const MemberInfo* find(std::string_view name) const;
  // In the order the type information lists them (a property once).
  const std::vector<MemberInfo>& members() const { return members_; }

 private:
  struct Keys {
    std::string name;  // Windows-1251, for case-insensitive comparison
    std::string help;
  };
  std::vector<MemberInfo> members_;
  std::vector<Keys> keys_;
};

}  // namespace mirelo::shell
