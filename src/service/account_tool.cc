#include "service/account_tool.h"

#include <map>
#include <ostream>

#include "foundation/config_rules.h"
#include "hostlib/accounts.h"
#include "platform/sanitize.h"
#include "platform/strings.h"

namespace vek::service {
namespace {

using hostlib::Account;
using hostlib::AccountStore;

enum class Kind { kText, kFlag, kNumber };

struct Option {
  const char* flag;
  const char* field;
  Kind kind;
};

const Option kOptions[] = {
    {"--password", "password", Kind::kText},     {"--full-name", "full_name", Kind::kText},
    {"--disabled", "disabled", Kind::kFlag},     {"--admin", "admin", Kind::kFlag},
    {"--inbox", "inbox", Kind::kFlag},           {"--receive", "receive", Kind::kFlag},
    {"--web", "web_login", Kind::kFlag},         {"--smpp", "smpp_login", Kind::kFlag},
    {"--smtp", "smtp_login", Kind::kFlag},       {"--credit", "credit", Kind::kFlag},
    {"--addresses", "addresses", Kind::kText},   {"--senders", "senders", Kind::kText},
    {"--recipients", "recipients", Kind::kText}, {"--throughput", "throughput", Kind::kText},
    {"--daily", "daily_limit", Kind::kNumber},   {"--monthly", "monthly_limit", Kind::kNumber},
    {"--menu", "web_menu", Kind::kNumber},
};

bool parseOptions(const std::vector<std::string>& args, size_t from,
                  std::vector<AccountStore::FieldValue>* fields, std::ostream& err) {
  for (size_t i = from; i < args.size(); ++i) {
    const Option* opt = nullptr;
    for (const Option& o : kOptions)
      if (args[i] == o.flag) opt = &o;
    if (!opt) {
      err << "veksms user: unknown option " << platform::singleLine(args[i]) << "\n";
      return false;
    }
    if (i + 1 >= args.size()) {
      err << "veksms user: " << opt->flag << " needs a value\n";
      return false;
    }
    const std::string& v = args[++i];
    if (platform::hasControlCharacters(v)) {
      err << "veksms user: " << opt->flag << " must not contain control characters\n";
      return false;
    }
    std::string value = v;
    if (opt->kind == Kind::kFlag) value.assign(1, foundation::yesNo(v) ? '1' : '0');
    if (opt->kind == Kind::kNumber) value = std::to_string(foundation::number(v));
    fields->push_back({opt->field, value});
  }
  return true;
}

void applyFields(Account* a, const std::vector<AccountStore::FieldValue>& fields) {
  for (const auto& f : fields) {
    bool on = f.value == "1";
    if (f.field == "password")
      a->password = f.value;
    else if (f.field == "full_name")
      a->full_name = f.value;
    else if (f.field == "disabled")
      a->disabled = on;
    else if (f.field == "admin")
      a->admin = on;
    else if (f.field == "inbox")
      a->inbox = on;
    else if (f.field == "receive")
      a->receive = on;
    else if (f.field == "web_login")
      a->web_login = on;
    else if (f.field == "smpp_login")
      a->smpp_login = on;
    else if (f.field == "smtp_login")
      a->smtp_login = on;
    else if (f.field == "credit")
      a->credit = on;
    else if (f.field == "addresses")
      a->addresses = f.value;
    else if (f.field == "senders")
      a->senders = f.value;
    else if (f.field == "recipients")
      a->recipients = f.value;
    else if (f.field == "throughput")
      a->throughput = f.value;
    else if (f.field == "daily_limit")
      a->daily_limit = foundation::number(f.value);
    else if (f.field == "monthly_limit")
      a->monthly_limit = foundation::number(f.value);
    else if (f.field == "web_menu")
      a->web_menu = foundation::number(f.value);
  }
}

const char* yn(bool b) {
  return b ? "yes" : "no";
}

void list(AccountStore& store, std::ostream& out) {
  for (const Account& a : store.all()) {
    out << a.name << ": disabled=" << yn(a.disabled) << " admin=" << yn(a.admin)
        << " web=" << yn(a.web_login) << " smpp=" << yn(a.smpp_login)
        << " receive=" << yn(a.receive) << " inbox=" << yn(a.inbox) << " credit=" << yn(a.credit)
        << " daily=" << a.daily_limit << " monthly=" << a.monthly_limit << " menu=" << a.web_menu;
    if (!a.addresses.empty()) out << " addresses=" << a.addresses;
    if (!a.senders.empty()) out << " senders=" << a.senders;
    if (!a.recipients.empty()) out << " recipients=" << a.recipients;
    if (!a.throughput.empty()) out << " throughput=" << a.throughput;
    out << "\n";
  }
}

}  // namespace

int runAccountTool(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  if (args.empty()) {
    err << "veksms user: add|set|del|list expected\n";
    return 2;
  }
  AccountStore* store = hostlib::accountStore();
  if (!store) {
    err << "veksms user: cannot open the account store\n";
    return 1;
  }
  const std::string& verb = args[0];
  if (verb == "list") {
    list(*store, out);
    return 0;
  }
  if (args.size() < 2) {
    err << "veksms user " << verb << ": account name expected\n";
    return 2;
  }
  const std::string& name = args[1];
  if (verb == "del") {
    auto st = store->remove(name);
    if (!st.ok()) {
      err << "veksms user del: " << st.message() << "\n";
      return 1;
    }
    return 0;
  }
  std::vector<AccountStore::FieldValue> fields;
  if (!parseOptions(args, 2, &fields, err)) return 2;
  if (verb == "add") {
    if (!hostlib::isValidAccountName(name)) {
      err << "veksms user add: invalid account name \"" << platform::singleLine(name)
          << "\" (empty, \".\", \"..\", or containing '/', '\\', ':' or control characters)\n";
      return 2;
    }
    Account a;
    a.name = name;
    applyFields(&a, fields);
    auto st = store->add(a);
    if (!st.ok()) {
      err << "veksms user add: " << st.message() << "\n";
      return 1;
    }
    return 0;
  }
  if (verb == "set") {
    auto st = store->update(name, fields);
    if (!st.ok()) {
      err << "veksms user set: " << st.message() << "\n";
      return 1;
    }
    return 0;
  }
  err << "veksms user: unknown command " << platform::singleLine(verb) << "\n";
  return 2;
}

}  // namespace vek::service
