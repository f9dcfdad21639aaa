// The two calls are defined here, in the test binary, so that the module's
// code linked into it reaches these definitions first; each records and then
// calls the runtime's own definition, found by its symbol name past this
// binary.
#include "runtime_calls.h"

#include <dlfcn.h>

#include <cstring>
#include <stdexcept>

namespace {

RuntimeCallLog* active = nullptr;

// The runtime's definition of the member that `ours` (this binary's) names.
template <class Member>
void* RuntimesOwn(Member ours) {
    void* address = nullptr;
    std::memcpy(&address, &ours, sizeof address);  // a non-virtual member's code address (Itanium ABI)
    Dl_info info{};
    if (!dladdr(address, &info) || !info.dli_sname) throw std::runtime_error("the test binary exports no symbols");
    void* runtime = dlsym(RTLD_NEXT, info.dli_sname);
    if (!runtime) throw std::runtime_error(std::string("the runtime has no ") + info.dli_sname);
    return runtime;
}

std::string Text(const ov::Any& value) {
    try {
        return value.as<std::string>();
    } catch (const std::exception&) {
        return "?";
    }
}

}  // namespace

RuntimeCallLog::RuntimeCallLog() { active = this; }
RuntimeCallLog::~RuntimeCallLog() { active = nullptr; }

bool RuntimeCall::operator==(const RuntimeCall& other) const {
    if (what != other.what || device != other.device || properties.size() != other.properties.size()) return false;
    for (const auto& [key, value] : properties) {
        const auto found = other.properties.find(key);
        if (found == other.properties.end() || !(found->second == value)) return false;
    }
    return true;
}

void PrintTo(const RuntimeCall& call, std::ostream* out) {
    *out << call.what << "(\"" << call.device << "\"";
    for (const auto& [key, value] : call.properties) *out << ", " << key << "=" << Text(value);
    *out << ")";
}

void ov::Core::set_property(const std::string& device_name, const AnyMap& properties) {
    using Member = void (ov::Core::*)(const std::string&, const AnyMap&);
    using Runtimes = void (*)(ov::Core*, const std::string&, const AnyMap&);
    static const auto runtimes = reinterpret_cast<Runtimes>(RuntimesOwn<Member>(&ov::Core::set_property));
    if (active) active->calls.push_back({"set_property", device_name, properties});
    runtimes(this, device_name, properties);
}

ov::CompiledModel ov::Core::compile_model(const std::shared_ptr<const ov::Model>& model,
                                          const std::string& device_name, const AnyMap& properties) {
    using Member = ov::CompiledModel (ov::Core::*)(const std::shared_ptr<const ov::Model>&, const std::string&,
                                                   const AnyMap&);
    using Runtimes = ov::CompiledModel (*)(ov::Core*, const std::shared_ptr<const ov::Model>&, const std::string&,
                                           const AnyMap&);
    static const auto runtimes = reinterpret_cast<Runtimes>(RuntimesOwn<Member>(&ov::Core::compile_model));
    if (active) active->calls.push_back({"compile_model", device_name, properties});
    return runtimes(this, model, device_name, properties);
}
