#include "platform/outlook/contact_record.h"

#include <strings.h>

namespace corvane::outlook {

std::string_view PropertyName(ContactProperty property) {
  static constexpr std::array<std::string_view, kContactPropertyCount> kNames = {
      "CompanyName",
      "FullName",
      "FirstName",
      "LastName",
      "Initials",
      "Title",
      "JobTitle",
      "Account",
      "Department",
      "OfficeLocation",
      "ManagerName",
      "AssistantName",
      "Email1Address",
      "Email1AddressType",
      "Email2Address",
      "Email3Address",
      "BusinessTelephoneNumber",
      "Business2TelephoneNumber",
      "HomeTelephoneNumber",
      "Home2TelephoneNumber",
      "MobileTelephoneNumber",
      "PagerNumber",
      "BusinessFaxNumber",
      "HomeFaxNumber",
      "OtherTelephoneNumber",
      "AssistantTelephoneNumber",
      "BusinessAddressPostOfficeBox",
      "BusinessAddressStreet",
      "BusinessAddressCity",
      "BusinessAddressState",
      "BusinessAddressPostalCode",
      "BusinessAddressCountry",
      "HomeAddressStreet",
      "HomeAddressCity",
      "HomeAddressState",
      "HomeAddressPostalCode",
      "HomeAddressCountry",
      "BusinessHomePage",
      "User1",
      "User2",
      "User3",
      "User4",
  };
  return kNames[static_cast<size_t>(property)];
}

const std::string* ContactRecord::FindUserProperty(std::string_view name) const {
  for (const auto& [stored, value] : userProperties)
    if (stored.size() == name.size() && strncasecmp(stored.data(), name.data(), name.size()) == 0) return &value;
  return nullptr;
}

std::string* ContactRecord::FindUserProperty(std::string_view name) {
  return const_cast<std::string*>(static_cast<const ContactRecord&>(*this).FindUserProperty(name));
}

}  // namespace corvane::outlook
