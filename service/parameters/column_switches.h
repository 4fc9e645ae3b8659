// The 44 column boxes (`chkDBFields`): each box's caption is the final-table
// column it selects; its parameter is named by its tag where it has one,
// else by its caption.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>

namespace corvane::parameters {

struct ColumnBox {
  std::string_view caption;
  std::string_view tag;
  std::string_view ParameterName() const { return tag.empty() ? caption : tag; }
};

inline constexpr int kColumnBoxCount = 44;

inline constexpr std::array<ColumnBox, kColumnBoxCount> kColumnBoxes = {{
    {"GIVEN_NAME", ""},
    {"INITIALS", ""},
    {"SURNAME", ""},
    {"DISPLAY_NAME", ""},
    {"DISPLAY_NAME_7BIT", ""},
    {"ENTRY_ID", ""},
    {"TITLE", ""},
    {"COMPANY_NAME", ""},
    {"OFFICE_LOCATION", ""},
    {"MANAGER_NAME", ""},
    {"OFFICE_TELEPHONE_NUMBER", ""},
    {"OFFICE2_TELEPHONE_NUMBER", ""},
    {"ASSISTANT", ""},
    {"ASSISTANT_TELEPHONE_NUMBER", ""},
    {"MOBILE_TELEPHONE_NUMBER", ""},
    {"PAGER_TELEPHONE_NUMBER", ""},
    {"DISPLAY_TYPE", ""},
    {"EMS_AB_PROXY_ADDRESSES", ""},
    {"BUS_ADD_CITY", ""},
    {"BUS_ADD_COUNTRY", ""},
    {"BUS_ADD_POST_OFFICE_BOX", ""},
    {"BUS_ADD_POSTAL_CODE", ""},
    {"BUS_ADD_STATE_OR_PROVINCE", ""},
    {"BUS_ADD_STREET", ""},
    {"BUS_ADD_FAX_NUMBER", ""},
    {"BUS_HOME_PAGE", ""},
    {"BUS_TELEPHONE_NUMBER", ""},
    {"BUS2_TELEPHONE_NUMBER", ""},
    {"BUS_DEPARTMENT_NAME", ""},
    {"H_TELEPHONE_NUMBER", ""},
    {"H2_TELEPHONE_NUMBER", ""},
    {"H_FAX_NUMBER", ""},
    {"H_ADD_STREET", ""},
    {"H_ADD_CITY", ""},
    {"H_ADD_STATE_OR_PROVINCE", ""},
    {"H_ADD_POSTAL_CODE", ""},
    {"H_ADD_COUNTRY", ""},
    {"ACCOUNT", ""},
    {"EXT1", "EXTENSION_ATTRIBUTE_1"},
    {"EXT2", "EXTENSION_ATTRIBUTE_2"},
    {"EXT3", "EXTENSION_ATTRIBUTE_3"},
    {"EXT4", "EXTENSION_ATTRIBUTE_4"},
    {"COM", "COMMENT"},
    {"PHP", "PERSONAL_HOME_PAGE"},
}};

// The value of each box: 1 selects the column.
using ColumnSelection = std::array<int16_t, kColumnBoxCount>;

}  // namespace corvane::parameters
