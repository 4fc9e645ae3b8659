#include "platform/mapi/gal_directory.h"

#include <fmt/format.h>

#include "platform/mapi/last_error.h"

namespace corvane::mapi {

HRESULT GalReader::Next(Row& row, bool& end) {
  for (;;) {
    HRESULT hr = stream_->Next(entry_, end);
    if (FAILED(hr) || end) return hr;
    if (!IsAddressBookEntry(entry_, require_attribute_)) continue;
    RepairTextAttributes(entry_, true);
    return BuildGalRow(entry_, *names_, row);
  }
}

std::string NoAddressListText(const DirectorySource& source) {
  return fmt::format("the host-name form found no address-list entries (showInAddressBook) in the {}; name the "
                     "directory by an ldap:// URL instead, e.g. ldap://<host>/<base>??sub?{}",
                     source.Describe(), kActiveDirectoryMailFilter);
}

HRESULT GalDirectory::Open(const std::string& server, const std::string& mailbox,
                           std::shared_ptr<GalDirectory>& out) {
  std::unique_ptr<DirectorySource> source;
  HRESULT hr = OpenDirectorySource(server, source);
  if (FAILED(hr)) return hr;
  return Open(std::move(source), mailbox, out);
}

HRESULT GalDirectory::Open(std::unique_ptr<DirectorySource> source, const std::string& mailbox,
                           std::shared_ptr<GalDirectory>& out) {
  auto dir = std::make_shared<GalDirectory>();
  dir->source_ = std::move(source);
  bool require = dir->source_->RequiresAddressBookAttribute();
  std::unique_ptr<EntryStream> stream;
  HRESULT hr = dir->source_->Open(Pass::Scan, stream);
  if (FAILED(hr)) return hr;
  auto names = std::make_shared<NameIndex>();
  DirEntry entry;
  size_t matches = 0;
  std::string first_match;
  for (;;) {
    bool end = false;
    if (FAILED(hr = stream->Next(entry, end))) return hr;
    if (end) break;
    if (!IsRecipient(entry)) continue;
    if (MatchesAccount(entry, mailbox) && ++matches == 1) first_match = entry.dn;
    if (!IsAddressBookEntry(entry, require)) continue;
    RepairTextAttributes(entry, false);  // the reading pass names what it repairs
    ++dir->count_;
    if (const auto* name = DisplayNameOf(entry)) names->Add(CanonicalDn(entry.dn), *name);
  }
  names->Seal();
  // Proxy addresses are many and long: they are read only when no account
  // name or mail address named the mailbox.
  if (matches == 0) {
    if (FAILED(hr = dir->source_->Open(Pass::Proxies, stream))) return hr;
    for (;;) {
      bool end = false;
      if (FAILED(hr = stream->Next(entry, end))) return hr;
      if (end) break;
      if (IsRecipient(entry) && MatchesProxyAddress(entry, mailbox) && ++matches == 1) first_match = entry.dn;
    }
  }
  // A directory named by host name that does not fill showInAddressBook
  // (a domain without a mail server's schema) shows no address list at all.
  if (matches == 0 && require && dir->count_ == 0) return Fail(MAPI_E_LOGON_FAILED, NoAddressListText(*dir->source_));
  if (matches != 1) {
    return Fail(MAPI_E_LOGON_FAILED,
                matches == 0 ? fmt::format("the mailbox \"{}\" names no entry of the {}", mailbox,
                                           dir->source_->Describe())
                             : fmt::format("the mailbox \"{}\" names {} entries of the {}; it must name one",
                                           mailbox, matches, dir->source_->Describe()));
  }
  dir->mailbox_dn_ = first_match;
  dir->names_ = std::move(names);
  out = std::move(dir);
  return S_OK;
}

HRESULT GalDirectory::OpenReader(std::unique_ptr<GalReader>& out) {
  std::unique_ptr<EntryStream> stream;
  HRESULT hr = source_->Open(Pass::Read, stream);
  if (FAILED(hr)) return hr;
  out = std::make_unique<GalReader>(std::move(stream), names_, source_->RequiresAddressBookAttribute());
  return S_OK;
}

}  // namespace corvane::mapi
