#include "wizard/help_topics.h"

#include <fmt/format.h>

namespace corvane::wizard {

namespace {

constexpr const char* kPages[] = {"welcome.html",  "database.html", "exchange.html", "fields.html",
                                  "schedule.html", "exports.html",  "options.html",  "finish.html"};

struct Section {
  std::string_view prefix;  // the control names that start with it
  int context;
};

// Longer prefixes first where one starts another.
constexpr Section kSections[] = {
    {"txtConnectionString", 101}, {"txtconnectionstringNoPass", 101}, {"cmdchangedb", 101},
    {"txttblname", 102}, {"txttmptblname", 102},
    {"chkexcludes", 103}, {"txtexclusiontable", 103}, {"cmbfields", 103},
    {"lblmail", 201}, {"TxtMailbox", 201}, {"txtServer", 201}, {"txtLdapBindDN", 201}, {"txtLdapPasswordFile", 201}, {"txtLdapSaslMech", 201}, {"txtmailprofile", 202},
    {"lstexchangefields", 301}, {"lstselectedfields", 301}, {"cmdadd", 301}, {"cmdremove", 301}, {"chkDBFields", 301},
    {"Option1", 401}, {"Optday", 402}, {"lstdays", 402}, {"lstweek", 403}, {"chkweek", 403},
    {"optmonthly", 404}, {"lstmonth", 404}, {"cmbmonth", 404}, {"chkmonth", 404}, {"DTP", 405},
    {"ChkDynamicProfile", 501}, {"txtAltProfile", 501}, {"chkContacts", 501}, {"txtlocalcontactname", 501},
    {"cmbsubs", 501}, {"cmdPopulate", 501},
    {"chkdistlist", 502}, {"txtdistlistname", 502}, {"txtexchange", 502}, {"txtcontainer", 502}, {"txttempfile", 502},
    {"chkparse", 601}, {"chksmtp", 601}, {"chkevents", 602}, {"chkPublishSwap", 605},
    {"chkbefore", 603}, {"txtbefore", 603}, {"chkafter", 603}, {"txtafter", 603},
    {"chkSQLbefore", 604}, {"txtSQLBefore", 604}, {"ChkSQLAfter", 604}, {"txtSQLAfter", 604},
    {"txtsummary", 7}, {"lblwelcome", 0}, {"lblversion", 0},
};

}  // namespace

int HelpContextOf(std::string_view control) {
  for (const Section& s : kSections)
    if (control.starts_with(s.prefix)) return s.context;
  return 0;
}

std::string HelpTopic(int context) {
  if (context >= 0 && context <= 7) return kPages[context];
  const int page = context / 100;
  if (page >= 1 && page <= 7) return fmt::format("{}#c{}", kPages[page], context);
  return kPages[0];
}

}  // namespace corvane::wizard
