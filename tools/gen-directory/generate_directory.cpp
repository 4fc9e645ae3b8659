#include "tools/gen-directory/generate_directory.h"

#include <fmt/format.h>

#include <algorithm>
#include <array>
#include <string_view>
#include <vector>

namespace corvane::gendir {
namespace {

// splitmix64: a fixed generator, so files do not change with the
// standard library's distributions.
class Random {
 public:
  explicit Random(uint64_t seed) : state_(seed) {}
  uint64_t Next() {
    uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }
  size_t Below(size_t n) { return static_cast<size_t>(Next() % n); }
  bool Chance(int percent) { return Below(100) < static_cast<size_t>(percent); }
  template <class T, size_t N>
  const T& Pick(const std::array<T, N>& a) { return a[Below(N)]; }

 private:
  uint64_t state_;
};

using sv = std::string_view;

constexpr std::array<sv, 40> kGivenNames = {
    "James", "Mary", "Oliver", "Amelia", "Harry", "Isla", "George", "Ava", "Noah", "Mia",
    "Jack", "Emily", "Leo", "Grace", "Arthur", "Freya", "Henry", "Ella", "Oscar", "Lily",
    "Mohammed", "Aisha", "Wei", "Priya", "Sean", "Niamh", "Lars", "Ingrid", "Pierre", "Chloé",
    "José", "Lucía", "Björn", "Zoë", "Łukasz", "Agnieszka", "Jürgen", "Søren", "Ana", "Kenji"};
constexpr std::array<sv, 40> kSurnames = {
    "Smith", "Jones", "Taylor", "Brown", "Williams", "Wilson", "Johnson", "Davies", "Robinson", "Wright",
    "Thompson", "Evans", "Walker", "White", "Roberts", "Green", "Hall", "Wood", "Jackson", "Clarke",
    "Patel", "Khan", "Chen", "Murphy", "Kelly", "Nielsen", "Larsen", "Dubois", "García", "Fernández",
    "Müller", "Schröder", "Nowak", "Wiśniewski", "Andersson", "Ødegård", "Yamamoto", "Kovač", "Silva", "Byrne"};
constexpr std::array<sv, 10> kDepartments = {"Operations", "Finance", "Sales", "Customs Brokerage", "IT",
                                             "Human Resources", "Warehousing", "Fleet", "Legal", "Procurement"};
constexpr std::array<sv, 12> kTitles = {"Clerk", "Analyst", "Coordinator", "Manager", "Senior Manager", "Director",
                                        "Dispatcher", "Driver", "Engineer", "Accountant", "Consultant", "Assistant"};
struct Office {
  sv name, street, city, state, postal, country, phone_prefix;
};
constexpr std::array<Office, 6> kOffices = {{
    {"London Docklands", "12 Wharf Road", "London", "Greater London", "E14 5AB", "United Kingdom", "+44 20 7946"},
    {"Rotterdam Port", "Waalhaven 4", "Rotterdam", "Zuid-Holland", "3089 JH", "Netherlands", "+31 10 555"},
    {"Hamburg", "Am Sandtorkai 7", "Hamburg", "Hamburg", "20457", "Germany", "+49 40 5550"},
    {"Gdańsk", "ul. Portowa 3", "Gdańsk", "pomorskie", "80-601", "Poland", "+48 58 555"},
    {"Göteborg", "Skeppsbron 9", "Göteborg", "Västra Götaland", "411 21", "Sweden", "+46 31 555"},
    {"Dublin", "North Wall Quay 22", "Dublin", "Leinster", "D01 K8X4", "Ireland", "+353 1 555"},
}};

constexpr sv kMailDomain = "harbourline.example";
constexpr sv kAliasDomain = "harbourline-freight.example";

std::string Dn(sv cn, sv ou) { return fmt::format("CN={},OU={},{}", cn, ou, kBaseDn); }

std::string GalDn() {
  return fmt::format(
      "CN=Default Global Address List,CN=All Global Address Lists,CN=Address Lists Container,"
      "CN=Harbourline,CN=Microsoft Exchange,CN=Services,CN=Configuration,{}",
      kBaseDn);
}
std::string AllUsersDn() {
  return fmt::format(
      "CN=All Users,CN=All Address Lists,CN=Address Lists Container,CN=Harbourline,CN=Microsoft Exchange,"
      "CN=Services,CN=Configuration,{}",
      kBaseDn);
}

// The Exchange name every recipient carries; the entry identifier is made
// from it, so it stays the same when the entry is moved or renamed.
std::string LegacyExchangeDn(sv account) {
  return fmt::format("/o=Harbourline/ou=Exchange Administrative Group (FYDIBOHF23SPDLT)/cn=Recipients/cn={}", account);
}

// Latin letters with accents to plain ASCII; false when something else
// (another script) remains.
bool FoldAscii(sv in, std::string& out) {
  static const std::array<std::pair<sv, sv>, 32> kFold = {{
      {"é", "e"}, {"è", "e"}, {"ë", "e"}, {"á", "a"}, {"à", "a"}, {"ä", "ae"}, {"å", "aa"}, {"Å", "Aa"},
      {"ö", "oe"}, {"ø", "oe"}, {"Ø", "Oe"}, {"ó", "o"}, {"ü", "ue"}, {"ú", "u"}, {"í", "i"}, {"ñ", "n"},
      {"ł", "l"}, {"Ł", "L"}, {"ś", "s"}, {"ń", "n"}, {"ż", "z"}, {"ź", "z"}, {"ć", "c"}, {"č", "c"},
      {"ą", "a"}, {"ę", "e"}, {"ß", "ss"}, {"Ž", "Z"}, {"Ö", "Oe"}, {"Ä", "Ae"}, {"Ü", "Ue"}, {"Ë", "E"},
  }};
  out.clear();
  bool ok = true;
  for (size_t i = 0; i < in.size();) {
    unsigned char c = static_cast<unsigned char>(in[i]);
    if (c < 0x80) {
      out.push_back(static_cast<char>(c));
      ++i;
      continue;
    }
    bool found = false;
    for (const auto& [from, to] : kFold) {
      if (in.substr(i, from.size()) == from) {
        out += to;
        i += from.size();
        found = true;
        break;
      }
    }
    if (!found) {
      ok = false;
      ++i;
      while (i < in.size() && (static_cast<unsigned char>(in[i]) & 0xC0) == 0x80) ++i;
    }
  }
  return ok;
}

std::string AccountPart(sv name) {
  std::string folded;
  FoldAscii(name, folded);
  std::string out;
  for (char c : folded)
    if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z')) out.push_back(static_cast<char>(c | 0x20));
  return out;
}

// The first character, whole (a UTF-8 sequence may take several bytes).
std::string FirstCharacter(sv s) {
  size_t n = 1;
  while (n < s.size() && (static_cast<unsigned char>(s[n]) & 0xC0) == 0x80) ++n;
  return std::string(s.substr(0, n));
}

// PrintableString holds letters, digits, blank and '()+,-./:?=.
bool Printable(sv s) {
  for (char c : s)
    if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || sv(" '()+,-./:?=").find(c) != sv::npos))
      return false;
  return !s.empty();
}

std::string Base64(sv in) {
  static constexpr char kA[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  for (size_t i = 0; i < in.size(); i += 3) {
    unsigned v = static_cast<unsigned char>(in[i]) << 16;
    if (i + 1 < in.size()) v |= static_cast<unsigned char>(in[i + 1]) << 8;
    if (i + 2 < in.size()) v |= static_cast<unsigned char>(in[i + 2]);
    out.push_back(kA[(v >> 18) & 63]);
    out.push_back(kA[(v >> 12) & 63]);
    out.push_back(i + 1 < in.size() ? kA[(v >> 6) & 63] : '=');
    out.push_back(i + 2 < in.size() ? kA[v & 63] : '=');
  }
  return out;
}

// One entry being written: attribute lines in LDIF, folded at 78 columns.
class Entry {
 public:
  explicit Entry(std::string dn) { Add("dn", dn); }
  void Add(sv name, sv value) {
    bool safe = !value.empty() && value[0] != ' ' && value[0] != ':' && value[0] != '<' && value.back() != ' ';
    for (char c : value)
      if (static_cast<unsigned char>(c) >= 0x80 || c == '\n' || c == '\r' || c == '\0') safe = false;
    std::string line = safe ? fmt::format("{}: {}", name, value) : fmt::format("{}:: {}", name, Base64(value));
    Fold(line);
  }
  void AddIf(bool cond, sv name, sv value) {
    if (cond) Add(name, value);
  }
  void Write(std::ostream& out) {
    text_.push_back('\n');
    out << text_;
  }

 private:
  void Fold(const std::string& line) {
    constexpr size_t kWidth = 78;
    size_t pos = 0;
    while (line.size() - pos > kWidth) {
      text_.append(line, pos, pos == 0 ? kWidth : kWidth - 1);
      text_ += "\n ";
      pos += pos == 0 ? kWidth : kWidth - 1;
    }
    text_.append(line, pos, std::string::npos);
    text_.push_back('\n');
  }
  std::string text_;
};

const std::string kSecurityDescriptor = std::string("\x01\x00\x04\x8c\x00\x00\x00\x00\x00\x00\x00\x00", 12);

enum class Kind { Mailbox, MailUser, Contact, Group, PublicFolder };

struct Person {
  std::string given, surname, display, account;
};

class Writer {
 public:
  Writer(std::ostream& out, const Options& o) : out_(out), rnd_(o.seed * 0x2545F4914F6CDD1Dull + 7), options_(o) {}

  uint64_t Run() {
    WriteSkeleton();
    for (uint64_t i = 0; i < options_.entries; ++i) {
      WriteListed(i);
      if (i % 97 == 19) WriteHidden(i);
    }
    return written_;
  }

 private:
  void Emit(Entry& e) {
    e.Write(out_);
    ++written_;
  }

  void WriteSkeleton() {
    Entry root(kBaseDn);
    root.Add("objectClass", "top");
    root.Add("objectClass", "domain");
    root.Add("dc", "harbourline");
    Emit(root);
    for (sv ou : {"Staff", "Groups", "Contacts", "Public Folders"}) {
      Entry e(fmt::format("OU={},{}", ou, kBaseDn));
      e.Add("objectClass", "top");
      e.Add("objectClass", "organizationalUnit");
      e.Add("ou", ou);
      Emit(e);
    }
  }

  Person RandomPerson(uint64_t i) {
    Person p;
    p.given = std::string(rnd_.Pick(kGivenNames));
    p.surname = std::string(rnd_.Pick(kSurnames));
    p.display = fmt::format("{} {}", p.given, p.surname);
    p.account = fmt::format("{}{}{}", AccountPart(p.given).substr(0, 1), AccountPart(p.surname), i);
    return p;
  }

  // The fixed entries at the start of every file: the service mailbox and
  // the awkward cases, so that even a small sample holds all of them.
  Person SpecialPerson(uint64_t i) {
    struct Fixed {
      sv given, surname, account;
    };
    static constexpr std::array<Fixed, 9> kFixed = {{
        {"Corvane", "Service", "corvane.service"},
        {"Siobhan", "O'Brien", "sobrien"},           // U+0027
        {"Jean", "D`Arcy", "jdarcy"},                 // U+0060
        {"Aoife", "O\u2018Sullivan", "aosullivan"},  // U+2018
        {"Liam", "O\u2019Neill", "loneill"},         // U+2019
        {"Marco", "D\u00B4Angelo", "mdangelo"},      // U+00B4
        {"Zoë", "Ångström-Łukasiewicz", "zangstrom"},
        {"Дмитрий", "Иванов", "divanov"},
        {"太郎", "山田", "tyamada"},
    }};
    const Fixed& f = kFixed[i];
    Person p{std::string(f.given), std::string(f.surname), "", std::string(f.account)};
    p.display = i == 8 ? fmt::format("{} {}", p.surname, p.given) : fmt::format("{} {}", p.given, p.surname);
    return p;
  }

  Kind KindOf(uint64_t i) {
    switch (i) {
      case 13: return Kind::MailUser;
      case 15: return Kind::Group;
      case 16: return Kind::PublicFolder;
      case 17: return Kind::Contact;
      case 18: return Kind::MailUser;
      default: break;
    }
    if (i < 20) return Kind::Mailbox;
    size_t r = rnd_.Below(100);
    if (r < 80) return Kind::Mailbox;
    if (r < 85) return Kind::MailUser;
    if (r < 92) return Kind::Contact;
    if (r < 97) return Kind::Group;
    return Kind::PublicFolder;
  }

  void CommonRecipient(Entry& e, const Person& p) {
    e.Add("cn", p.account);
    e.Add("displayName", p.display);
    std::string printable;
    if (FoldAscii(p.display, printable) && Printable(printable) && rnd_.Chance(85))
      e.Add("displayNamePrintable", printable);
    e.Add("showInAddressBook", GalDn());
  }

  void AdCore(Entry& e, sv category) {
    e.Add("instanceType", "4");
    e.Add("objectCategory", fmt::format("CN={},CN=Schema,CN=Configuration,{}", category, kBaseDn));
    e.Add("nTSecurityDescriptor", kSecurityDescriptor);
  }

  void Addresses(Entry& e, uint64_t i, const std::string& account) {
    std::string mail = fmt::format("{}@{}", account, kMailDomain);
    switch (i) {
      case 9:  // neither mail nor proxy addresses
        return;
      case 10:  // no SMTP address at all
        e.Add("proxyAddresses", fmt::format("X400:c=GB;a= ;p=Harbourline;o=Exchange;s={}", account));
        e.Add("proxyAddresses", fmt::format("X500:/o=Harbourline/ou=Exchange Administrative Group/cn=Recipients/cn={}", account));
        return;
      case 11:  // only lower-case smtp:
        e.Add("mail", mail);
        e.Add("proxyAddresses", fmt::format("smtp:{}", mail));
        e.Add("proxyAddresses", fmt::format("smtp:{}@{}", account, kAliasDomain));
        return;
      case 12:  // forty long addresses, the primary one far down the list
        e.Add("mail", mail);
        for (int k = 0; k < 40; ++k) {
          if (k == 35) e.Add("proxyAddresses", fmt::format("SMTP:{}", mail));
          else e.Add("proxyAddresses", fmt::format("smtp:{}.archive.{:02}@{}", account, k, kAliasDomain));
        }
        return;
      case 14:  // missing properties: only a mail address
        e.Add("mail", mail);
        return;
      default:
        break;
    }
    e.Add("mail", mail);
    e.Add("proxyAddresses", fmt::format("SMTP:{}", mail));
    if (rnd_.Chance(60)) e.Add("proxyAddresses", fmt::format("smtp:{}@{}", account, kAliasDomain));
    if (rnd_.Chance(30))
      e.Add("proxyAddresses", fmt::format("X500:/o=Harbourline/ou=Exchange Administrative Group/cn=Recipients/cn={}", account));
  }

  void PersonDetails(Entry& e, const Person& p, uint64_t i, bool staff) {
    e.Add("sn", p.surname);
    bool sparse = i == 14;
    if (sparse) return;
    e.Add("givenName", p.given);
    if (rnd_.Chance(50)) e.Add("initials", FirstCharacter(p.given));
    const Office& o = rnd_.Pick(kOffices);
    e.Add("title", rnd_.Pick(kTitles));
    e.Add("department", rnd_.Pick(kDepartments));
    if (staff) e.AddIf(rnd_.Chance(90), "company", "Harbourline Freight");
    else e.Add("company", fmt::format("{} Shipping", p.surname));
    e.AddIf(staff, "physicalDeliveryOfficeName", o.name);
    e.Add("telephoneNumber", fmt::format("{} {:04}", o.phone_prefix, rnd_.Below(10000)));
    e.AddIf(rnd_.Chance(20), "otherTelephone", fmt::format("{} {:04}", o.phone_prefix, rnd_.Below(10000)));
    e.AddIf(rnd_.Chance(30), "homePhone", fmt::format("{} {:04}", o.phone_prefix, rnd_.Below(10000)));
    e.AddIf(rnd_.Chance(10), "otherHomePhone", fmt::format("{} {:04}", o.phone_prefix, rnd_.Below(10000)));
    e.AddIf(rnd_.Chance(60), "mobile", fmt::format("+44 7700 {:06}", rnd_.Below(1000000)));
    e.AddIf(rnd_.Chance(5), "pager", fmt::format("{:05}", rnd_.Below(100000)));
    e.AddIf(rnd_.Chance(20), "facsimileTelephoneNumber", fmt::format("{} 9{:03}", o.phone_prefix, rnd_.Below(1000)));
    e.Add("streetAddress", o.street);
    e.Add("l", o.city);
    e.Add("st", o.state);
    e.Add("postalCode", o.postal);
    e.Add("co", o.country);
    e.AddIf(rnd_.Chance(10), "postOfficeBox", fmt::format("PO Box {}", 100 + rnd_.Below(900)));
    if (staff && !managers_.empty() && rnd_.Chance(80)) e.Add("manager", managers_[rnd_.Below(managers_.size())]);
    if (rnd_.Chance(5)) {
      e.Add("msExchAssistantName", rnd_.Pick(kGivenNames));
      e.Add("telephoneAssistant", fmt::format("{} {:04}", o.phone_prefix, rnd_.Below(10000)));
    }
    e.AddIf(rnd_.Chance(50), "extensionAttribute1", fmt::format("CC-{:04}", rnd_.Below(10000)));
    e.AddIf(rnd_.Chance(40), "extensionAttribute2", fmt::format("E{:06}", i));
    e.AddIf(rnd_.Chance(10), "extensionAttribute3", rnd_.Chance(50) ? "Contractor" : "Seasonal");
    e.AddIf(rnd_.Chance(10), "extensionAttribute4", fmt::format("Badge {}", rnd_.Below(100000)));
    e.AddIf(rnd_.Chance(15), "info", "Prefers e-mail; available 08:00-16:00 UTC");
    e.AddIf(rnd_.Chance(10), "wWWHomePage", fmt::format("https://intranet.{}/people/{}", kMailDomain, p.account));
    e.AddIf(rnd_.Chance(5), "url", fmt::format("https://example.org/~{}", p.account));
  }

  void WriteListed(uint64_t i) {
    Kind kind = KindOf(i);
    Person p = i < 9 ? SpecialPerson(i) : RandomPerson(i);
    switch (kind) {
      case Kind::Mailbox:
      case Kind::MailUser: {
        Entry e(Dn(p.account, "Staff"));
        for (sv c : {"top", "person", "organizationalPerson", "user", "corvaneRecipient"}) e.Add("objectClass", c);
        CommonRecipient(e, p);
        AdCore(e, "Person");
        e.Add("sAMAccountName", p.account);
        e.AddIf(i != 14, "mailNickname", p.account);
        e.Add("legacyExchangeDN", LegacyExchangeDn(p.account));
        Addresses(e, i, p.account);
        PersonDetails(e, p, i, true);
        if (kind == Kind::Mailbox) {
          e.AddIf(i != 14, "homeMDB", fmt::format("CN=Mailbox Database 0{},CN=Databases,CN=Exchange Administrative Group,"
                                                  "CN=Administrative Groups,CN=Harbourline,CN=Microsoft Exchange,"
                                                  "CN=Services,CN=Configuration,{}", 1 + rnd_.Below(4), kBaseDn));
          if (rnd_.Chance(30)) e.Add("msExchRecipientDisplayType", "1073741824");
          e.Add("showInAddressBook", AllUsersDn());
          managers_.push_back(Dn(p.account, "Staff"));
        } else {
          e.Add("targetAddress", fmt::format("SMTP:{}@partner.example", p.account));
          // Entry 13 says display type 0 outright although it has no mailbox.
          if (i == 13) e.Add("msExchRecipientDisplayType", "0");
          else if (i == 18 || rnd_.Chance(50)) e.Add("msExchRecipientDisplayType", "-2147483642");
        }
        Emit(e);
        return;
      }
      case Kind::Contact: {
        p.account = fmt::format("contact{}", i);
        Entry e(Dn(p.account, "Contacts"));
        for (sv c : {"top", "person", "organizationalPerson", "contact", "corvaneRecipient"}) e.Add("objectClass", c);
        CommonRecipient(e, p);
        e.Add("mailNickname", p.account);
        e.Add("legacyExchangeDN", LegacyExchangeDn(p.account));
        std::string ext = fmt::format("{}.{}@{}", AccountPart(p.given), AccountPart(p.surname), "carrier.example");
        e.Add("mail", ext);
        e.Add("targetAddress", "SMTP:" + ext);
        e.Add("proxyAddresses", "SMTP:" + ext);
        PersonDetails(e, p, i, false);
        Emit(e);
        return;
      }
      case Kind::Group: {
        const sv dept = rnd_.Pick(kDepartments);
        const Office& o = rnd_.Pick(kOffices);
        std::string account = fmt::format("dl{}", i);
        Entry e(Dn(account, "Groups"));
        for (sv c : {"top", "group", "corvaneRecipient"}) e.Add("objectClass", c);
        CommonRecipient(e, {"", "", fmt::format("DL {} {}", dept, o.city), account});
        AdCore(e, "Group");
        e.Add("groupType", "8");
        e.Add("sAMAccountName", account);
        e.Add("mailNickname", account);
        e.Add("legacyExchangeDN", LegacyExchangeDn(account));
        Addresses(e, i, account);
        e.AddIf(rnd_.Chance(50), "msExchRecipientDisplayType", "1");
        e.AddIf(rnd_.Chance(30), "info", fmt::format("Everyone in {} at {}", dept, o.name));
        AddMembers(e);
        Emit(e);
        return;
      }
      case Kind::PublicFolder: {
        std::string account = fmt::format("pf{}", i);
        Entry e(Dn(account, "Public Folders"));
        for (sv c : {"top", "publicFolder", "corvaneRecipient"}) e.Add("objectClass", c);
        CommonRecipient(e, {"", "", fmt::format("Shipments {}", rnd_.Pick(kOffices).city), account});
        e.Add("mailNickname", account);
        e.Add("legacyExchangeDN", LegacyExchangeDn(account));
        Addresses(e, i, account);
        e.AddIf(rnd_.Chance(50), "msExchRecipientDisplayType", "2");
        Emit(e);
        return;
      }
    }
  }

  // Up to five managers as members, each once: a server refuses a value
  // twice in one attribute. A drawn manager already chosen gives way to the
  // next one not chosen, so the draws (and every later entry) stay as they
  // were.
  void AddMembers(Entry& e) {
    std::vector<size_t> chosen;
    for (size_t k = 0; k < 5 && k < managers_.size(); ++k) {
      size_t m = rnd_.Below(managers_.size());
      while (std::find(chosen.begin(), chosen.end(), m) != chosen.end()) m = (m + 1) % managers_.size();
      chosen.push_back(m);
      e.Add("member", managers_[m]);
    }
  }

  // Accounts that exist but stay out of the address list.
  void WriteHidden(uint64_t i) {
    std::string account = fmt::format("svc-backup{}", i);
    Entry e(Dn(account, "Staff"));
    for (sv c : {"top", "person", "organizationalPerson", "user", "corvaneRecipient"}) e.Add("objectClass", c);
    e.Add("cn", account);
    e.Add("sn", "Backup");
    e.Add("displayName", fmt::format("Backup Agent {}", i));
    AdCore(e, "Person");
    e.Add("sAMAccountName", account);
    e.Add("mail", fmt::format("{}@{}", account, kMailDomain));
    e.Add("msExchHideFromAddressLists", "TRUE");
    Emit(e);
  }

  std::ostream& out_;
  Random rnd_;
  Options options_;
  uint64_t written_ = 0;
  std::vector<std::string> managers_;
};

}  // namespace

std::string CheckOptions(const Options& options) {
  if (options.entries == 0)
    return fmt::format("--entries must be at least 1: entry 0 is the mailbox \"{}\"", kServiceAccount);
  if (options.entries > kMaxEntries) return fmt::format("--entries is at most {}", kMaxEntries);
  return {};
}

uint64_t WriteDirectory(std::ostream& out, const Options& options) {
  return Writer(out, options).Run();
}

}  // namespace corvane::gendir
