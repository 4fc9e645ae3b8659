// Connections that wrap a real one: one counts the statements it executes,
// one fails chosen recordset operations, as a database that goes away in
// the middle of a pass would.
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <string>

#include "platform/ado/ado.h"

namespace corvane::testing {

// Which operation of a recordset is about to run, or the text of a statement
// a connection is about to execute; return true to fail it.
using FaultRule = std::function<bool(const std::string& operation)>;

class WrappedRecordset : public ado::Recordset {
 public:
  WrappedRecordset(std::unique_ptr<ado::Recordset> inner, std::shared_ptr<FaultRule> rule, int32_t number)
      : inner_(std::move(inner)), rule_(std::move(rule)), number_(number) {}
  void Open(const std::string& source, ado::Connection& activeConnection, int cursorType, int lockType,
            int options) override;
  int State() const override { return inner_->State(); }
  bool IsEOF() const override { return inner_->IsEOF(); }
  int FieldCount() const override { return inner_->FieldCount(); }
  std::string FieldName(int index) const override { return inner_->FieldName(index); }
  int FieldIndex(const std::string& name) const override { return inner_->FieldIndex(name); }
  ado::FieldValue GetValue(int index) const override { return inner_->GetValue(index); }
  void SetValue(int index, ado::FieldValue value) override {
    Check("SetValue");
    inner_->SetValue(index, std::move(value));
  }
  void Update() override {
    Check("Update");
    inner_->Update();
  }
  // Nothing is announced where the double injects failures.
  void ExpectUpdates(size_t rows, const UpdatePlan& plan) override {
    if (!*rule_) inner_->ExpectUpdates(rows, plan);
  }
  void MoveFirst() override { inner_->MoveFirst(); }
  void MoveNext() override {
    Check("MoveNext");
    inner_->MoveNext();
  }
  void Close() override { inner_->Close(); }

 private:
  void Check(const std::string& operation) {
    if (*rule_ && (*rule_)(operation)) throw ado::AdoError(number_, "Provider", "Injected failure of " + operation);
  }
  std::unique_ptr<ado::Recordset> inner_;
  std::shared_ptr<FaultRule> rule_;
  int32_t number_;
};

class WrappedConnection : public ado::Connection {
 public:
  explicit WrappedConnection(std::unique_ptr<ado::Connection> inner, std::shared_ptr<FaultRule> rule = nullptr,
                             int32_t number = ado::adErrGeneric)
      : inner_(std::move(inner)), rule_(rule ? std::move(rule) : std::make_shared<FaultRule>()), number_(number) {}

  void Open(const std::string& cs, const std::string& user, const std::string& password, int options) override {
    inner_->Open(cs, user, password, options);
  }
  std::unique_ptr<ado::Recordset> Execute(const std::string& text) override {
    ++statements;
    if (*rule_ && (*rule_)(text)) throw ado::AdoError(number_, "Provider", "Injected failure of " + text);
    return inner_->Execute(text);
  }
  std::unique_ptr<ado::Recordset> CreateRecordset() override {
    return std::make_unique<WrappedRecordset>(inner_->CreateRecordset(), rule_, number_);
  }
  const std::vector<ado::ErrorRecord>& Errors() const override { return inner_->Errors(); }
  void ClearErrors() override { inner_->ClearErrors(); }
  int State() const override { return inner_->State(); }
  void Close() override { inner_->Close(); }
  std::string DbmsName() const override { return inner_->DbmsName(); }
  void CaseSensitiveLike(bool on) override { inner_->CaseSensitiveLike(on); }
  void BeginTrans() override { inner_->BeginTrans(); }
  void CommitTrans() override { inner_->CommitTrans(); }
  void RollbackTrans() override { inner_->RollbackTrans(); }
  std::unique_ptr<ado::Command> Prepare(const std::string& text) override { return inner_->Prepare(text); }
  void BeginBatch() override { inner_->BeginBatch(); }
  void CommitBatch() override { inner_->CommitBatch(); }
  void AbandonBatch() noexcept override { inner_->AbandonBatch(); }
  bool BatchPending() const override { return inner_->BatchPending(); }
  // A chosen statement fails here, before the inner connection sees it:
  // statements run together ahead of it there would not fail with it.
  void ExpectStatements(std::vector<std::string> texts) override {
    if (!*rule_) inner_->ExpectStatements(std::move(texts));
  }
  void ExpectStatementsDoneBy(std::vector<std::string> texts, std::string together) override {
    if (!*rule_) inner_->ExpectStatementsDoneBy(std::move(texts), std::move(together));
  }
  bool RunsStatementsAhead() const override { return !*rule_ && inner_->RunsStatementsAhead(); }

  ado::Connection& inner() { return *inner_; }
  long statements = 0;

 private:
  friend class WrappedRecordset;
  std::unique_ptr<ado::Connection> inner_;
  std::shared_ptr<FaultRule> rule_;
  int32_t number_;
};

inline void WrappedRecordset::Open(const std::string& source, ado::Connection& activeConnection, int cursorType,
                                   int lockType, int options) {
  Check("Open");
  // The inner recordset belongs to the inner connection.
  auto* wrapped = dynamic_cast<WrappedConnection*>(&activeConnection);
  inner_->Open(source, wrapped ? wrapped->inner() : activeConnection, cursorType, lockType, options);
}

}  // namespace corvane::testing
