// Where a connection goes and how it logs in, as one source states it. Every
// value is optional: a source gives what it knows, the command line and the
// defaults fill the rest.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace talvo::core {

// libpq's TLS parameters, as the driver takes them.
struct Tls {
  std::optional<std::string> sslmode, sslrootcert, sslcert, sslkey;

  bool empty() const { return !sslmode && !sslrootcert && !sslcert && !sslkey; }
  // Fills what this one leaves open from `weaker`.
  void fill_from(const Tls& weaker);
};

struct Endpoint {
  std::optional<std::string> host, port, user, password, database;
  Tls tls;

  bool empty() const { return !host && !port && !user && !password && !database && tls.empty(); }
  void fill_from(const Endpoint& weaker);
};

// The values of an endpoint, in this order wherever they are listed.
enum class Setting : unsigned char {
  host, port, user, password, database, sslmode, sslrootcert, sslcert, sslkey,
};
inline constexpr std::size_t kSettingCount = 9;

std::string_view setting_name(Setting f);
std::optional<std::string>& setting(Endpoint& e, Setting f);
const std::optional<std::string>& setting(const Endpoint& e, Setting f);

// Where one value came from.
struct Source {
  enum class Kind : unsigned char {
    none,           // nothing gave a value
    option,         // typed on the command line: `where` is the option
    default_value,  // a default: `where` says which
    file,           // a settings file: `where` is its path
    environment,    // a process environment variable: `where` is its name
    password_file,  // the password file: `where` is its path
  };
  Kind kind = Kind::none;
  std::string where;
  std::string key;  // the key in the file, when known
  int line = 0;     // the key's line, when known
  bool operator==(const Source&) const = default;
};

// "option -U/--user", "file /p/.env, key DB_HOST, line 3", "environment PGUSER", ...
std::string describe(const Source& s);

// Where one value was written: the file, the key (dotted where the
// document nests), and the line when the reader knows it (0 otherwise).
struct Origin {
  std::string file;
  std::string key;
  std::uint32_t line = 0;
};

// The origin of each value of an Endpoint, where one is known.
struct Origins {
  std::optional<Origin> host, port, user, password, database, sslmode;
};

// A source that gave settings: what it gave, which kind of project file it
// is (for the log), and the file (empty for the environment).
struct Found {
  Endpoint endpoint;
  std::string framework;
  std::string path;
  // Where each value was written, where the reader knows it better than
  // "somewhere in `path`" (a key; a variable of the environment).
  std::array<Source, kSettingCount> sources{};
  // The database is a default rule's (the image names it after the user),
  // not a name written anywhere: it never stands for a database name found.
  bool database_inferred = false;
};

// Each origin as the value's source: a file, with its key and line.
void record_origins(Found& found, const Origins& origins);

// sslmode values libpq knows.
bool is_sslmode(std::string_view mode);

}  // namespace talvo::core
