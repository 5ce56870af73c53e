// Where a connection goes and how it logs in, as one source states it. Every
// value is optional: a source gives what it knows, the command line and the
// defaults fill the rest.
#pragma once

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
// is (for the log), the file (empty for the environment), and where each
// value came from.
struct Found {
  Endpoint endpoint;
  std::string framework;
  std::string path;
  Origins origins;
};

// sslmode values libpq knows.
bool is_sslmode(std::string_view mode);

}  // namespace talvo::core
