// What the commands that change roles and databases share: the superuser
// connection, the typed confirmation, the traceback switch, names in
// statements, and connections that are closed on every path.
#pragma once

#include <string>
#include <string_view>

#include "bridge/coroutine.hpp"
#include "output/prompt.hpp"
#include "core/quote.hpp"
#include "db/report.hpp"
#include "pyutil.hpp"

namespace talvo::db {

using output::ask_password;
using output::read_line;

// The driver's connect for the superuser on the maintenance database:
// postgres, else template1 where postgres does not exist, as createdb and
// dropdb choose it. A session on template1 would keep every CREATE DATABASE
// of the server waiting ("source database is being accessed by other
// users"), so it is only the fallback.
bridge::Coroutine connect_as_superuser(nb::object args, nb::object host, nb::object port);

inline constexpr const char* kMaintenanceDatabase = "postgres";
inline constexpr const char* kFallbackDatabase = "template1";

// tprint(e) when the module has an exception printer, else the standard
// traceback text with a plain print.
void print_traceback(const nb::python_error& e);

// A role or database name as it goes into a statement, meaning exactly that
// name; ValueError for a name that cannot be sent.
std::string sql_name(nb::handle name);

// False, after one line saying so, when `name` is longer than the server
// keeps: it would cut the name and reach another object. `kind` opens the
// line ("Database", "User").
bool name_fits(nb::handle name, const char* kind);
std::string sql_literal(std::string_view value);

// A name as a message shows it: on one line, control characters visible.
std::string shown(nb::handle name);

// The handler's open connection. Whatever way the frame ends (an error, a
// cancellation, the coroutine being closed), a connection still held is
// terminated, which needs no awaiting.
class HeldConnection {
 public:
  HeldConnection() = default;
  HeldConnection(const HeldConnection&) = delete;
  HeldConnection& operator=(const HeldConnection&) = delete;
  ~HeldConnection();

  void hold(nb::object conn) { conn_ = std::move(conn); }
  bool held() const { return conn_.is_valid(); }
  const nb::object& get() const { return conn_; }
  nb::object release() { return std::move(conn_); }

 private:
  bridge::Traced<> conn_;
};

// Awaits conn.close() for a held connection; terminates it if closing fails.
bridge::Coroutine close_connection(HeldConnection& conn);

}  // namespace talvo::db
