// Component objects: create an object by its programmatic identifier (such
// as "Tarnwick.SvcUtil") from the in-process server library registered for
// it in the machine's registry, and the variant its methods return.
//
//   auto svc = corvane::com::CreateObject<corvane::servicecontrol::SvcUtil>("Tarnwick.SvcUtil");
//
// See server.h for what a server library provides and how it registers.
#pragma once

#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <variant>

namespace corvane::com {

// A method's result: empty, a text or a Boolean.
class Variant {
 public:
  Variant() = default;  // empty
  Variant(std::string text) : value_(std::move(text)) {}
  Variant(const char* text) : value_(std::string(text)) {}
  Variant(bool value) : value_(value) {}

  bool IsEmpty() const { return std::holds_alternative<std::monostate>(value_); }
  bool IsText() const { return std::holds_alternative<std::string>(value_); }
  bool IsBool() const { return std::holds_alternative<bool>(value_); }
  // The text; "" when the variant holds none.
  const std::string& Text() const;
  // The Boolean; false when the variant holds none.
  bool Bool() const { return IsBool() && std::get<bool>(value_); }

  bool operator==(const Variant&) const = default;

 private:
  std::variant<std::monostate, std::string, bool> value_;
};

inline const std::string& Variant::Text() const {
  static const std::string kNone;
  return IsText() ? std::get<std::string>(value_) : kNone;
}

// The base of every object a component creates. The library that made an
// object stays loaded while the object lives.
class Object {
 public:
  virtual ~Object() = default;
};

// Error numbers as the objects' callers know them.
inline constexpr int32_t kErrTypeMismatch = 13;
inline constexpr int32_t kErrCantCreateObject = 429;  // "ActiveX component can't create object"

// A failed creation: Number is one of the above, Description says which
// identifier and why, in words.
class ComError : public std::runtime_error {
 public:
  ComError(int32_t number, const std::string& description)
      : std::runtime_error(description), Number(number), Description(description) {}
  int32_t Number;
  std::string Description;
};

// Creates the object registered under `progId` in the machine's registry
// (the Corvane home's hive). Throws ComError 429 naming the identifier when
// it is not registered, its library cannot be loaded or does not serve it.
std::shared_ptr<Object> CreateObject(std::string_view progId);

// The same, as the interface T the object implements; ComError 13 when it
// implements no T.
template <class T>
std::shared_ptr<T> CreateObject(std::string_view progId) {
  auto object = std::dynamic_pointer_cast<T>(CreateObject(progId));
  if (!object) throw ComError(kErrTypeMismatch, "Type mismatch: \"" + std::string(progId) + "\" is not of the type asked for");
  return object;
}

}  // namespace corvane::com
