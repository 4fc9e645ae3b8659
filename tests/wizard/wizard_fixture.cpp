#include "tests/wizard/wizard_fixture.h"

#include <stdlib.h>

namespace corvane::wizard::testing {

// In memory where the machine has it: every settings write syncs the file.
TempFolder::TempFolder() {
  std::error_code ec;
  const std::filesystem::path base =
      std::filesystem::is_directory("/dev/shm", ec) ? "/dev/shm" : std::filesystem::temp_directory_path();
  std::string pattern = (base / "corvane-wizard-XXXXXX").string();
  if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  path_ = pattern;
}

TempFolder::~TempFolder() {
  std::error_code ec;
  std::filesystem::remove_all(path_, ec);
}

void RecordingView::MessageBox(const std::string& text, const std::string& title, MsgIcon icon) {
  messages.push_back({text, title, icon});
}

bool RecordingView::AskYesNo(const std::string& text, const std::string& title, MsgIcon icon) {
  messages.push_back({text, title, icon});
  EXPECT_FALSE(answers.empty()) << "unexpected question: " << text;
  if (answers.empty()) return false;
  bool answer = answers.front();
  answers.pop_front();
  return answer;
}

std::string RecordingView::BuildConnectionString(const std::string& current) { return built.value_or(current); }

std::optional<Failure> RecordingStore::Write(std::string_view name, std::string_view text, registry::ValueType type) {
  writes.push_back({std::string(name), std::string(text), type});
  return inner_.Write(name, text, type);
}

namespace {

class FakeSvcUtil : public SvcUtil {
 public:
  explicit FakeSvcUtil(WizardHarness& h) : h_(h) {}
  void SetTargetService(const std::string& name) override { h_.serviceCalls.push_back("TargetService=" + name); }
  void SetHostname(const std::string& name) override { h_.serviceCalls.push_back("hostname=" + name); }
  std::string GetTargetServiceStatus() override {
    h_.serviceCalls.push_back("GetTargetServiceStatus");
    std::string status = h_.statuses.empty() ? "" : h_.statuses.front();
    if (!h_.statuses.empty()) h_.statuses.pop_front();
    return status;
  }
  bool StartTargetService() override {
    h_.serviceCalls.push_back("StartTargetService");
    Wait();
    return true;
  }
  void BounceTargetService() override {
    h_.serviceCalls.push_back("BounceTargetService");
    Wait();
  }
  void SetWaitObserver(std::function<void(const std::string&)> observer) override { observer_ = std::move(observer); }
  void CancelWait() override {
    h_.serviceCalls.push_back("CancelWait");
    cancelled_ = true;
  }
  std::optional<Failure> RequestFailure() override { return h_.requestFailure; }

 private:
  void Wait() {
    cancelled_ = false;
    for (const std::string& status : h_.waitStatuses) {
      if (cancelled_) return;
      if (observer_) observer_(status);
      if (h_.duringWait) h_.duringWait();
    }
  }

  WizardHarness& h_;
  std::function<void(const std::string&)> observer_;
  bool cancelled_ = false;
};

}  // namespace

WizardHarness::WizardHarness(std::filesystem::path hiveFile) {
  if (hiveFile.empty()) {
    folder_ = std::make_unique<TempFolder>();
    hiveFile = folder_->path() / "registry.hive";
  }
  hiveFile_ = hiveFile;
  store_ = std::make_unique<HiveParameterStore>(registry::Hive(hiveFile_));
  recording_ = std::make_unique<RecordingStore>(*store_);
}

WizardPorts WizardHarness::Ports(const std::string& serviceAccount) {
  WizardPorts ports;
  ports.store = recording_.get();
  ports.createSvcUtil = [this](Failure& failure) -> std::unique_ptr<SvcUtil> {
    if (serviceCreatable) return std::make_unique<FakeSvcUtil>(*this);
    failure = {429, "ActiveX component can't create object"};
    return nullptr;
  };
  ports.listPublicFolders = [this] { return folders; };
  ports.now = [] { return kNow; };
  ports.serviceAccount = serviceAccount;
  ports.computerName = "gal-host";
  ports.serviceUnit = "Corvane\\x20Service.service";
  ports.distListFileDefault = "/opt/corvane/dstemp.csv";
  ports.versionMajor = 4;
  ports.versionMinor = 1;
  return ports;
}

Form1Model& WizardHarness::Open(const std::string& serviceAccount) {
  model_ = std::make_unique<Form1Model>(view, Ports(serviceAccount));
  model_->Load();
  return *model_;
}

std::optional<std::string> WizardHarness::Stored(const std::string& name) const {
  auto v = registry::Hive(hiveFile_).Get(registry::kParametersKeyPath, name);
  return v ? std::optional<std::string>(v->AsText()) : std::nullopt;
}

std::map<std::string, std::string> WizardHarness::AllStored() const {
  std::map<std::string, std::string> out;
  for (const auto& v : registry::Hive(hiveFile_).List(registry::kParametersKeyPath)) out[v.name] = v.value.AsText();
  return out;
}

void FillConfiguration(Form1Model& m) {
  m.Type("txtConnectionString", "Driver={PostgreSQL Unicode};Server=db;Database=gal;Uid=corvane;Pwd=s3cret;CommLog=0");
  m.Type("txttblname", "ADDRESSES");
  m.Type("txttmptblname", "ADDRESSES_TMP");
  m.Tick("chkexcludes", true);
  m.Type("txtexclusiontable", "SKIPPED");
  m.Select("cmbfields", 3);  // DISPLAY_NAME
  m.Type("TxtMailbox", "svc-gal");
  m.Type("txtServer", "ldap://dc1.example.org/DC=example,DC=org??sub");
  m.Type("txtmailprofile", "GALPROFILE");
  m.Select("lstexchangefields", 0);  // TITLE
  m.Click("cmdaddselected");
  m.Select("lstexchangefields", 0);  // COMPANY_NAME
  m.Click("cmdaddselected");
  m.Tick("ChkDynamicProfile", false);
  m.Type("txtAltProfile", "CONTACTS");
  m.Tick("chkContacts_0", true);
  m.Type("txtlocalcontactname", "Staff");
  m.Tick("chkContacts_1", true);
  m.Type("cmbsubs", "Company\\Staff");
  m.Tick("chkdistlist", true);
  m.Type("txtdistlistname", "Everyone");
  m.Type("txtexchangeserver", "dc1");
  m.Type("txtexchangeorganization", "DC=example,DC=org");
  m.Type("txtcontainer", "OU=Lists");
  m.Type("txttempfile", "/var/lib/corvane/dl.csv");
  m.Tick("chkparse", false);
  m.Tick("chksmtp", false);
  m.Tick("chkevents", true);
  m.Tick("chkPublishSwap", true);
  m.Tick("chkbefore", true);
  m.Type("txtbefore", "/usr/local/bin/before.sh");
  m.Tick("chkSQLbefore", true);
  m.Type("txtSQLBefore", "delete from audit");
  m.Tick("chkafter", true);
  m.Type("txtafter", "/usr/local/bin/after.sh");
  m.Tick("ChkSQLAfter", true);
  m.Type("txtSQLAfter", "update ADDRESSES set TITLE = '' where TITLE is null; analyze");
}

}  // namespace corvane::wizard::testing
