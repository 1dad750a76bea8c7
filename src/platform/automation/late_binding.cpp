#include "platform/automation/late_binding.h"

#include "platform/automation/convert.h"

namespace morvane::automation {

namespace {

std::int32_t NumberOf(DispatchError::Kind kind) {
  switch (kind) {
    case DispatchError::Kind::UnknownClass: return errors::kCannotCreateObject;
    case DispatchError::Kind::UnknownMember: return errors::kNoSuchMember;
    case DispatchError::Kind::WrongArgumentCount: return errors::kWrongArgumentCount;
    case DispatchError::Kind::ArgumentNotOptional: return errors::kArgumentNotOptional;
    case DispatchError::Kind::ArgumentTypeMismatch: return errors::kTypeMismatch;
  }
  return errors::kInvalidProcedureCall;
}

// Converts one argument to its parameter's declared type.
void ConvertArgument(const MemberInfo& member, const ParamInfo& p, Variant& v) {
  if (v.IsMissing() || p.type == VT_VARIANT) return;
  if (p.type == VT_DISPATCH) {
    if (v.IsObject() || v.IsEmpty()) return;  // Empty stands for Nothing
    throw DispatchError(DispatchError::Kind::ArgumentTypeMismatch,
                        "argument '" + p.name + "' of " + member.name + " must be an object, not " +
                            std::string(VarTypeName(v.vt())));
  }
  try {
    ChangeType(v, p.type);
  } catch (const DispatchError&) {
    throw;
  } catch (const Error& e) {
    throw DispatchError(DispatchError::Kind::ArgumentTypeMismatch,
                        "argument '" + p.name + "' of " + member.name + " cannot be converted to " +
                            std::string(VarTypeName(p.type)) + ": " + e.Description());
  }
}

void FillDefaults(const MemberInfo& member, std::vector<Variant>& bound) {
  for (std::size_t i = 0; i < member.params.size(); ++i) {
    const ParamInfo& p = member.params[i];
    if (!bound[i].IsMissing()) continue;
    if (!p.optional)
      throw DispatchError(DispatchError::Kind::ArgumentNotOptional,
                          "argument '" + p.name + "' of " + member.name + " is not optional");
    bound[i] = p.defaultValue;
  }
  for (std::size_t i = 0; i < member.params.size(); ++i) ConvertArgument(member, member.params[i], bound[i]);
}

}  // namespace

DispatchError::DispatchError(Kind kind, std::string description)
    : Error(NumberOf(kind), std::string(kDefaultSource), std::move(description)), kind_(kind) {}

const MemberInfo& FindMember(const Dispatch& obj, std::string_view name, InvokeKind kind) {
  const TypeInfo& info = obj.GetTypeInfo();
  const MemberInfo* m = info.Find(name, kind);
  if (!m && kind == InvokeKind::Method) m = info.Find(name, InvokeKind::PropertyGet);
  if (!m)
    throw DispatchError(DispatchError::Kind::UnknownMember,
                        info.className + " has no member named \"" + std::string(name) + "\"");
  return *m;
}

std::vector<Variant> BindArguments(const MemberInfo& member, std::vector<Variant> args) {
  if (args.size() > member.params.size())
    throw DispatchError(DispatchError::Kind::WrongArgumentCount,
                        member.name + " takes at most " + std::to_string(member.params.size()) +
                            " argument(s), " + std::to_string(args.size()) + " given");
  args.resize(member.params.size(), Variant::Missing());
  FillDefaults(member, args);
  return args;
}

std::vector<Variant> BindNamedArguments(const MemberInfo& member, std::vector<NamedArgument> args) {
  std::vector<Variant> bound(member.params.size(), Variant::Missing());
  std::vector<bool> given(member.params.size(), false);
  for (auto& a : args) {
    std::size_t i = 0;
    while (i < member.params.size() && !EqualsIgnoreCase(member.params[i].name, a.name)) ++i;
    if (i == member.params.size())
      throw DispatchError(DispatchError::Kind::WrongArgumentCount,
                          member.name + " has no parameter named \"" + a.name + "\"");
    if (given[i])
      throw DispatchError(DispatchError::Kind::WrongArgumentCount,
                          "parameter \"" + a.name + "\" of " + member.name + " is given twice");
    given[i] = true;
    bound[i] = std::move(a.value);
  }
  FillDefaults(member, bound);
  return bound;
}

Variant CallByName(Dispatch& obj, std::string_view name, InvokeKind kind, std::vector<Variant>& args) {
  const MemberInfo& member = FindMember(obj, name, kind);
  std::vector<Variant> bound = BindArguments(member, args);
  Variant result = obj.Invoke(member.dispId, member.kind, bound);
  for (std::size_t i = 0; i < args.size(); ++i)
    if (member.params[i].byRef) args[i] = std::move(bound[i]);
  return result;
}

}  // namespace morvane::automation
