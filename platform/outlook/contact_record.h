// What a contact item holds: its message class, its contact properties and
// its text user properties. Both storage backends keep exactly this.
#pragma once

#include <array>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace corvane::outlook {

// The contact properties the jobs write, by the object model's names.
enum class ContactProperty {
  CompanyName,
  FullName,
  FirstName,
  LastName,
  Initials,
  Title,  // the courtesy title (e.g. "Dr."), not the job title
  JobTitle,
  Account,
  Department,
  OfficeLocation,
  ManagerName,
  AssistantName,
  Email1Address,
  Email1AddressType,
  Email2Address,
  Email3Address,
  BusinessTelephoneNumber,
  Business2TelephoneNumber,
  HomeTelephoneNumber,
  Home2TelephoneNumber,
  MobileTelephoneNumber,
  PagerNumber,
  BusinessFaxNumber,
  HomeFaxNumber,
  OtherTelephoneNumber,
  AssistantTelephoneNumber,
  BusinessAddressPostOfficeBox,
  BusinessAddressStreet,
  BusinessAddressCity,
  BusinessAddressState,
  BusinessAddressPostalCode,
  BusinessAddressCountry,
  HomeAddressStreet,
  HomeAddressCity,
  HomeAddressState,
  HomeAddressPostalCode,
  HomeAddressCountry,
  BusinessHomePage,
  User1,
  User2,
  User3,
  User4,
};
inline constexpr size_t kContactPropertyCount = static_cast<size_t>(ContactProperty::User4) + 1;

// "CompanyName", "FullName", ...
std::string_view PropertyName(ContactProperty property);

inline constexpr std::string_view kContactMessageClass = "IPM.Contact";

struct ContactRecord {
  std::string messageClass{kContactMessageClass};
  std::array<std::string, kContactPropertyCount> properties{};
  // Text user properties in the order they were added; names are unique
  // without regard to case.
  std::vector<std::pair<std::string, std::string>> userProperties;
  // Content of the stored form that no property above maps (a vCard file's
  // other lines, kept as read so that a save loses nothing).
  std::vector<std::string> preserved;

  const std::string& Get(ContactProperty p) const { return properties[static_cast<size_t>(p)]; }
  std::string& Get(ContactProperty p) { return properties[static_cast<size_t>(p)]; }
  // The user property of that name (any case), or nullptr.
  const std::string* FindUserProperty(std::string_view name) const;
  std::string* FindUserProperty(std::string_view name);
  bool operator==(const ContactRecord&) const = default;
};

}  // namespace corvane::outlook
