#include "platform/ado/sql_source.h"

#include <gtest/gtest.h>

namespace corvane::ado {
namespace {

TEST(ParseSimpleSelect, TakesPlainSingleTableQueries) {
  auto s = ParseSimpleSelect(
      "select entry_id, ems_ab_proxy_addresses, addr1, addr2, addr3, addr4, addr5, smtp from TEMP_GAL");
  ASSERT_TRUE(s);
  EXPECT_EQ(s->list, "entry_id, ems_ab_proxy_addresses, addr1, addr2, addr3, addr4, addr5, smtp");
  EXPECT_EQ(s->table, "TEMP_GAL");
  EXPECT_EQ(s->where, "");

  s = ParseSimpleSelect("  SELECT * FROM gal_PFC_SyncData  WHERE entry_id like 'AB%' ;");
  ASSERT_TRUE(s);
  EXPECT_EQ(s->list, "*");
  EXPECT_EQ(s->table, "gal_PFC_SyncData");
  EXPECT_EQ(s->where, "entry_id like 'AB%'");
}

TEST(ParseSimpleSelect, LeavesEverythingElseToBeReadAsItIs) {
  for (const char* text :
       {"select count(*) from t", "select distinct a from t", "select a from t order by a", "select a from t, u",
        "select a from t x join u y on x.a = y.a", "select 1", "select a from t where b = 1 group by a",
        "update t set a = 1", "select a from t limit 5", "select a || b from t"}) {
    EXPECT_FALSE(ParseSimpleSelect(text)) << text;
  }
}

}  // namespace
}  // namespace corvane::ado
