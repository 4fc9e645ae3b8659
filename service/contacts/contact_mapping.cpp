#include "service/contacts/contact_mapping.h"

#include <strings.h>

#include <array>
#include <exception>
#include <optional>
#include <vector>

#include "service/parameters/parameters.h"

namespace corvane::service::contacts {
namespace {

using outlook::ContactItem;
using P = outlook::ContactProperty;

// How a column value is written:
//   Always      an empty text clears the property; a Null is not written;
//   NonEmpty    only a value that is neither Null nor empty;
//   NullAsEmpty a Null writes an empty text;
//   Parsed      NonEmpty, and only while "NoParse" is 0.
enum class Rule { Always, NonEmpty, NullAsEmpty, Parsed };

struct Field {
  const char* column;
  P property;
  Rule update, add, local;
};

// Rows 8 to 40 of the mapping: one column, one property each.
constexpr std::array<Field, 33> kFields = {{
    {"Account", P::Account, Rule::Always, Rule::NullAsEmpty, Rule::Always},
    {"Office_location", P::OfficeLocation, Rule::Always, Rule::NullAsEmpty, Rule::Always},
    {"Manager_Name", P::ManagerName, Rule::Always, Rule::NullAsEmpty, Rule::Always},
    {"Office_Telephone_number", P::OtherTelephoneNumber, Rule::Always, Rule::NonEmpty, Rule::Always},
    {"Assistant", P::AssistantName, Rule::Always, Rule::NonEmpty, Rule::Always},
    {"Assistant_Telephone_Number", P::AssistantTelephoneNumber, Rule::Always, Rule::NonEmpty, Rule::Always},
    {"Mobile_Telephone_Number", P::MobileTelephoneNumber, Rule::Always, Rule::NonEmpty, Rule::Always},
    {"Pager_Telephone_Number", P::PagerNumber, Rule::Always, Rule::NonEmpty, Rule::Always},
    {"Bus_Add_City", P::BusinessAddressCity, Rule::Always, Rule::NonEmpty, Rule::Always},
    {"Bus_Add_Country", P::BusinessAddressCountry, Rule::Always, Rule::NonEmpty, Rule::Always},
    {"Bus_add_Post_Office_Box", P::BusinessAddressPostOfficeBox, Rule::Always, Rule::NonEmpty, Rule::Always},
    {"Bus_add_postal_code", P::BusinessAddressPostalCode, Rule::Always, Rule::NonEmpty, Rule::Always},
    {"Bus_Add_state_or_Province", P::BusinessAddressState, Rule::Always, Rule::NonEmpty, Rule::Always},
    {"Bus_Add_Street", P::BusinessAddressStreet, Rule::Always, Rule::NonEmpty, Rule::Always},
    {"Bus_add_Fax_number", P::BusinessFaxNumber, Rule::Always, Rule::NonEmpty, Rule::Always},
    {"Bus_Home_Page", P::BusinessHomePage, Rule::Always, Rule::NonEmpty, Rule::Always},
    {"Bus_telephone_number", P::BusinessTelephoneNumber, Rule::Always, Rule::NonEmpty, Rule::Always},
    {"Bus2_Telephone_number", P::Business2TelephoneNumber, Rule::Always, Rule::NonEmpty, Rule::Always},
    {"Bus_Department_name", P::Department, Rule::Always, Rule::NonEmpty, Rule::Always},
    {"H_telephone_number", P::HomeTelephoneNumber, Rule::Always, Rule::NonEmpty, Rule::Always},
    {"h2_telephone_number", P::Home2TelephoneNumber, Rule::Always, Rule::NonEmpty, Rule::Always},
    {"h_fax_number", P::HomeFaxNumber, Rule::Always, Rule::NonEmpty, Rule::Always},
    {"h_add_street", P::HomeAddressStreet, Rule::Always, Rule::NonEmpty, Rule::Always},
    {"h_add_city", P::HomeAddressCity, Rule::Always, Rule::NonEmpty, Rule::Always},
    {"h_add_state_or_province", P::HomeAddressState, Rule::Always, Rule::NonEmpty, Rule::Always},
    {"h_add_postal_code", P::HomeAddressPostalCode, Rule::Always, Rule::NonEmpty, Rule::Always},
    {"h_add_country", P::HomeAddressCountry, Rule::Always, Rule::NonEmpty, Rule::Always},
    {"Addr1", P::Email2Address, Rule::Always, Rule::Parsed, Rule::Always},
    {"addr2", P::Email3Address, Rule::Always, Rule::Parsed, Rule::Always},
    {"addr3", P::User1, Rule::Always, Rule::Parsed, Rule::Always},
    {"addr4", P::User2, Rule::Always, Rule::Parsed, Rule::Always},
    {"Addr5", P::User3, Rule::Always, Rule::Parsed, Rule::Always},
    {"ext1", P::User4, Rule::Always, Rule::NonEmpty, Rule::Always},
}};

class Writer {
 public:
  Writer(ContactItem& contact, const ado::Recordset& row, MappingPlace place, const MappingHooks& hooks)
      : contact_(contact), row_(row), place_(place), hooks_(hooks) {}

  void Run() {
    const bool sync = place_ != MappingPlace::LocalExport;
    Write(Rule::NonEmpty, "company_Name", P::CompanyName);
    Write(Rule::NonEmpty, "Display_Name", P::FullName);
    // The user properties are added before their values are written, to
    // contacts that carry them already as well.
    std::optional<outlook::UserProperty> entryId, rawPhone;
    Guard([&] { entryId = contact_.AddUserProperty("EntryID", outlook::olText); });
    if (sync) {
      Guard([&] { rawPhone = contact_.AddUserProperty("RawPhoneData", outlook::olText); });
      if (hooks_.DoEvents) Guard(hooks_.DoEvents);
    }
    Guard([&] {
      if (auto v = Column("Entry_id"); v && !v->empty() && entryId) entryId->SetValue(*v);
    });
    if (sync)
      Guard([&] {
        if (auto v = Column("Bus_telephone_number"); v && !v->empty() && rawPhone) rawPhone->SetValue(*v);
      });
    Email();
    Names();
    Write(place_ == MappingPlace::UpdatePhase ? Rule::Always : place_ == MappingPlace::AddPhase ? Rule::NullAsEmpty
                                                                                                 : Rule::Always,
          "title", sync ? P::JobTitle : P::Title);
    for (const auto& f : kFields) {
      Rule rule = place_ == MappingPlace::UpdatePhase ? f.update : place_ == MappingPlace::AddPhase ? f.add : f.local;
      Write(rule, f.column, f.property);
    }
  }

 private:
  // A column of the row; Null when the row has no such column (the
  // administrator did not select it for the final table).
  ado::FieldValue Column(const char* name) {
    if (columns_.empty())
      for (int i = 0; i < row_.FieldCount(); ++i) columns_.emplace_back(row_.FieldName(i));
    for (size_t i = 0; i < columns_.size(); ++i)
      if (strcasecmp(columns_[i].c_str(), name) == 0) return row_.GetValue(static_cast<int>(i));
    return std::nullopt;
  }

  template <class Op>
  void Guard(Op&& op) {
    if (place_ == MappingPlace::LocalExport) {
      op();
      return;
    }
    try {
      op();
    } catch (const std::exception&) {
      // The sync skips a failing write and goes on with the next.
    }
  }

  void Write(Rule rule, const char* column, P property) {
    Guard([&] {
      if (rule == Rule::Parsed && !Parsed()) return;
      ado::FieldValue v = Column(column);
      if (rule == Rule::NullAsEmpty) {
        contact_.Set(property, v.value_or(""));
      } else if (v && (rule == Rule::Always || !v->empty())) {
        contact_.Set(property, *v);
      }
    });
  }

  // "NoParse" is 0 (missing counts as 0), read once per contact.
  bool Parsed() {
    if (!noParse_) {
      std::string text = hooks_.ReadNoParse ? hooks_.ReadNoParse() : "";
      noParse_ = text.empty() ? 0 : parameters::ToInt32(text).value_or(-1);
    }
    return *noParse_ == 0;
  }

  // Row 5: the default SMTP address, else the first one (the sync); the
  // first one alone (the local export).
  void Email() {
    Guard([&] {
      std::optional<std::string> address;
      if (place_ != MappingPlace::LocalExport) {
        if (auto v = Column("DefSMTP"); v && !v->empty()) address = v;
      }
      if (!address) {
        if (auto v = Column("SMTP"); v && !v->empty()) address = v;
      }
      if (!address) return;
      contact_.Set(P::Email1Address, *address);
      contact_.Set(P::Email1AddressType, "SMTP");
    });
  }

  // Row 6: the name properties, by the row's display type in the sync.
  void Names() {
    if (place_ == MappingPlace::LocalExport) {
      Write(Rule::Always, "Given_Name", P::FirstName);
      Write(Rule::Always, "surname", P::LastName);
      Write(Rule::Always, "Account", P::Account);
      Write(Rule::Always, "Initials", P::Initials);
      return;
    }
    const bool update = place_ == MappingPlace::UpdatePhase;
    const Rule rule = update ? Rule::Always : Rule::NonEmpty;
    std::optional<int32_t> type;  // nullopt: a Null display type, which matches no kind
    Guard([&] {
      ado::FieldValue v = Column("Display_type");
      if (v) type = v->empty() ? 6 : parameters::ToInt32(*v).value_or(-1);
    });
    if (type == 0 || type == 6) {
      Write(rule, "Given_Name", P::FirstName);
      Write(rule, "surname", P::LastName);
      Write(update ? Rule::Always : Rule::NullAsEmpty, "Initials", P::Initials);
      Guard([&] {
        // A person without any name part is named by the display name.
        auto given = Column("given_name"), surname = Column("surname"), initials = Column("initials");
        if (given && given->empty() && surname && surname->empty() && initials && initials->empty())
          Write(rule, "display_name", P::LastName);
      });
    } else if (type == 1 || type == 2) {
      Write(rule, "display_name", P::FullName);
    } else {
      Write(rule, "Given_Name", P::FirstName);
      Write(rule, "surname", P::LastName);
      Write(rule, "Account", P::Account);
      Write(rule, "Initials", P::Initials);
      Write(rule, "title", P::JobTitle);
    }
  }

  ContactItem& contact_;
  const ado::Recordset& row_;
  MappingPlace place_;
  const MappingHooks& hooks_;
  std::optional<int32_t> noParse_;
  std::vector<std::string> columns_;
};

}  // namespace

void WriteContactFields(outlook::ContactItem& contact, const ado::Recordset& row, MappingPlace place,
                        const MappingHooks& hooks) {
  Writer(contact, row, place, hooks).Run();
}

}  // namespace corvane::service::contacts
