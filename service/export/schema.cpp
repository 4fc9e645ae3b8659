#include "service/export/schema.h"

#include <strings.h>

#include <array>
#include <cctype>
#include <string_view>

#include "platform/ado/ado.h"

namespace corvane::service {

namespace {

// The kinds' column types: the identifier, the proxy-address list, the rest.
enum class Width { EntryId, Long, Short };

struct TempColumn {
  std::string_view name;       // as the ORACLE statement writes it
  std::string_view otherName;  // as the MSSQL and OTHER statements write it, where different
  Width width;
};

constexpr std::array<TempColumn, 51> kTempColumns = {{
    {"ENTRY_ID", "", Width::EntryId},
    {"DISPLAY_NAME", "", Width::Short},
    {"BUS_ADD_CITY", "", Width::Short},
    {"BUS_ADD_COUNTRY", "", Width::Short},
    {"BUS_ADD_POST_OFFICE_BOX", "", Width::Short},
    {"BUS_ADD_POSTAL_CODE", "", Width::Short},
    {"BUS_ADD_STATE_OR_PROVINCE", "", Width::Short},
    {"BUS_ADD_STREET", "", Width::Short},
    {"BUS_ADD_FAX_NUMBER", "BUS_ADD_FAX_Number", Width::Short},
    {"BUS_HOME_PAGE", "", Width::Short},
    {"BUS_TELEPHONE_NUMBER", "BUS_TELEPHONE_number", Width::Short},
    {"BUS2_TELEPHONE_NUMBER", "BUS2_TELEPHONE_number", Width::Short},
    {"BUS_DEPARTMENT_NAME", "", Width::Short},
    {"GIVEN_NAME", "", Width::Short},
    {"INITIALS", "", Width::Short},
    {"SURNAME", "", Width::Short},
    {"DISPLAY_NAME_7BIT", "", Width::Short},
    {"TITLE", "", Width::Short},
    {"COMPANY_NAME", "", Width::Short},
    {"OFFICE_LOCATION", "", Width::Short},
    {"H_TELEPHONE_NUMBER", "H_TELEPHONE_number", Width::Short},
    {"H2_TELEPHONE_NUMBER", "H2_TELEPHONE_number", Width::Short},
    {"H_FAX_NUMBER", "H_FAX_number", Width::Short},
    {"H_ADD_STREET", "", Width::Short},
    {"H_ADD_CITY", "", Width::Short},
    {"H_ADD_STATE_OR_PROVINCE", "", Width::Short},
    {"H_ADD_POSTAL_CODE", "", Width::Short},
    {"H_ADD_COUNTRY", "", Width::Short},
    {"MANAGER_NAME", "", Width::Short},
    {"OFFICE_TELEPHONE_NUMBER", "OFFICE_TELEPHONE_number", Width::Short},
    {"OFFICE2_TELEPHONE_NUMBER", "OFFICE2_TELEPHONE_number", Width::Short},
    {"ASSISTANT", "", Width::Short},
    {"ASSISTANT_TELEPHONE_NUMBER", "ASSISTANT_TELEPHONE_number", Width::Short},
    {"MOBILE_TELEPHONE_NUMBER", "MOBILE_TELEPHONE_number", Width::Short},
    {"PAGER_TELEPHONE_NUMBER", "PAGER_TELEPHONE_number", Width::Short},
    {"DISPLAY_TYPE", "", Width::Short},
    {"EMS_AB_PROXY_ADDRESSES", "", Width::Long},
    {"ADDR1", "", Width::Short},
    {"ADDR2", "", Width::Short},
    {"ADDR3", "", Width::Short},
    {"ADDR4", "", Width::Short},
    {"ADDR5", "", Width::Short},
    {"SMTP", "", Width::Short},
    {"account", "", Width::Short},
    {"ext1", "", Width::Short},
    {"ext2", "", Width::Short},
    {"ext3", "", Width::Short},
    {"ext4", "", Width::Short},
    {"COM", "", Width::Short},
    {"php", "", Width::Short},
    {"DefSMTP", "", Width::Short},
}};

std::string Upper(const std::string& text) {
  std::string upper;
  for (char ch : text) upper += static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
  return upper;
}

}  // namespace

std::vector<std::string> TempTableColumnNames() {
  std::vector<std::string> names;
  for (const auto& c : kTempColumns) names.emplace_back(c.name);
  return names;
}

std::string TempTableColumnList(const std::string& databaseType, const std::string& tableName,
                                const OtherKindTypes& types) {
  const bool oracle = databaseType == "ORACLE";
  const bool mssql = databaseType == "MSSQL";
  std::string list = " (";
  for (size_t i = 0; i < kTempColumns.size(); ++i) {
    const TempColumn& c = kTempColumns[i];
    if (i > 0) list += ", ";
    list += oracle || c.otherName.empty() ? c.name : c.otherName;
    // The statement has always had two blanks after DISPLAY_NAME.
    list += i == 1 ? "  " : " ";
    switch (c.width) {
      case Width::EntryId:
        list += oracle ? "varchar(1024)" : mssql ? "VARCHAR(1024)" : types.entryId;
        break;
      case Width::Long:
        list += oracle || mssql ? "varchar(1024)" : types.longText;
        break;
      case Width::Short:
        list += "varchar(255)";
        break;
    }
  }
  if (oracle)
    list += ", CONSTRAINT " + tableName + "_ENTRY_ID PRIMARY KEY (entry_id))";
  else
    list += (mssql ? "" : types.tempKey) + " )";
  return list;
}

std::string LongTextTypeFor(const std::string& dbmsName) {
  const std::string name = Upper(dbmsName);
  if (name.find("ACCESS") != std::string::npos || name.find("JET") != std::string::npos) return "memo";
  return "text";
}

OtherKindTypes OtherKindTypesFor(const std::string& dbmsName) {
  OtherKindTypes types(LongTextTypeFor(dbmsName));
  if (ado::DialectOf(dbmsName) == ado::Dialect::MySQL) {
    types.entryId = "varchar(1024) character set ascii collate ascii_bin";
    types.tempKey = ", INDEX (ENTRY_ID)";
  }
  return types;
}

FinalTableLists BuildFinalTableLists(const parameters::ColumnSelection& boxes, int16_t NoParse, int16_t NoSMTP,
                                     const OtherKindTypes& types) {
  FinalTableLists lists{" entry_id, ", "entry_id " + types.entryId + ", ", {"entry_id"}};
  bool anyBox = false;
  for (int i = 0; i < parameters::kColumnBoxCount; ++i) {
    if (boxes[static_cast<size_t>(i)] != 1) continue;
    const std::string caption(parameters::kColumnBoxes[static_cast<size_t>(i)].caption);
    if (strcasecmp(caption.c_str(), "ENTRY_ID") == 0) continue;  // entry_id always leads
    lists.selectList += caption + ",";
    lists.columns.push_back(caption);
    // The proxy list keeps the long type it has in the temporary table:
    // varchar(255) would refuse every list longer than 255 characters.
    lists.definitionList +=
        caption + (caption == "EMS_AB_PROXY_ADDRESSES" ? " " + types.longText : " varchar(255)") + ",";
    anyBox = true;
  }
  // Drop the trailing comma; with no column box the lists still end in
  // ", " and lose both characters, so the statements stay well formed.
  lists.selectList.pop_back();
  lists.definitionList.pop_back();
  if (!anyBox) {
    lists.selectList.pop_back();
    lists.definitionList.pop_back();
  }
  if (NoParse == 1) {
    lists.columns.push_back("DEFSMTP");
    lists.selectList += ", DEFSMTP";
    lists.definitionList += ", DEFSMTP varchar(255)";
  } else if (NoSMTP == 1) {
    lists.columns.insert(lists.columns.end(), {"ADDR1", "ADDR2", "ADDR3", "ADDR4", "ADDR5", "DEFSMTP"});
    lists.selectList += ",ADDR1, ADDR2, ADDR3, ADDR4, ADDR5, DEFSMTP";
    lists.definitionList +=
        ",ADDR1 varchar(255), ADDR2 varchar(255), ADDR3 varchar(255), ADDR4 varchar(255), ADDR5 varchar(255), DEFSMTP "
        "varchar(255)";
  } else {
    lists.columns.insert(lists.columns.end(), {"ADDR1", "ADDR2", "ADDR3", "ADDR4", "ADDR5", "SMTP", "DEFSMTP"});
    lists.selectList += ",ADDR1, ADDR2 , ADDR3, ADDR4, ADDR5, SMTP, DEFSMTP";
    lists.definitionList +=
        ",ADDR1 varchar(255), ADDR2 varchar(255), ADDR3 varchar(255), ADDR4 varchar(255), ADDR5 varchar(255), SMTP "
        "varchar(255), DEFSMTP varchar(255)";
  }
  return lists;
}

}  // namespace corvane::service
