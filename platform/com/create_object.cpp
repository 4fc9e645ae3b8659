#include <fmt/format.h>

#include "platform/com/com.h"
#include "platform/com/server.h"

namespace corvane::com {
namespace {

ComError CannotCreate(std::string_view progId, const std::string& why) {
  return ComError(kErrCantCreateObject, fmt::format("ActiveX component can't create object \"{}\": {}", progId, why));
}

}  // namespace

std::shared_ptr<Object> CreateObject(std::string_view progId) {
  std::optional<std::filesystem::path> file;
  try {
    file = RegisteredServer(registry::Hive::Machine(), progId);
  } catch (const registry::RegistryError& e) {
    throw CannotCreate(progId, e.what());
  }
  if (!file) {
    throw CannotCreate(progId, fmt::format("it is not registered (no \"{}\" under {}\\{}; register its library with "
                                           "corvane-regsvr)",
                                           kInprocServerValue, kClassesKey, progId));
  }
  std::string error;
  auto library = ServerLibrary::Load(*file, &error);
  if (!library) throw CannotCreate(progId, fmt::format("its library cannot be loaded: {}", error));
  auto getClassObject = library->Export<DllGetClassObjectFunction>("DllGetClassObject");
  if (getClassObject == nullptr) throw CannotCreate(progId, fmt::format("{} is no component library", file->string()));
  ClassFactory* factory = nullptr;
  int32_t result = getClassObject(std::string(progId).c_str(), &factory);
  if (result != S_OK || factory == nullptr) {
    throw CannotCreate(progId, fmt::format("{} does not serve it (DllGetClassObject returned 0x{:08X})", file->string(),
                                           static_cast<uint32_t>(result)));
  }
  std::unique_ptr<Object> object;
  try {
    object = factory->CreateInstance();
  } catch (const std::exception& e) {
    throw CannotCreate(progId, e.what());
  }
  if (!object) throw CannotCreate(progId, "its factory made no object");
  // The object goes first, then the library's reference (members are
  // destroyed in reverse order).
  struct Held {
    std::shared_ptr<ServerLibrary> library;
    std::unique_ptr<Object> object;
  };
  auto held = std::make_shared<Held>(Held{std::move(library), std::move(object)});
  return std::shared_ptr<Object>(held, held->object.get());
}

}  // namespace corvane::com
