// Connection values recognised by their shape, whatever key holds them:
//   postgres://app:pw@db:5432/shop, postgresql+psycopg2://... (URLs, with
//     the %% of an INI file that ConfigParser reads, as alembic.ini writes)
//   jdbc:postgresql://db:5432/shop?user=app, jdbc:postgresql:shop
//   host=db port=5432 dbname=shop user=app     (libpq keyword/value)
//   Host=db;Port=5432;Database=shop;Username=app;Password=pw   (Npgsql)
//   pgsql:host=db;port=5432;dbname=shop                        (PHP's PDO)
#pragma once

#include <optional>
#include <string_view>

#include "core/endpoint.hpp"

namespace talvo::core {

enum class Shape : unsigned char { url, jdbc, keyword_value, ado_net };

struct ShapedValue {
  Endpoint endpoint;
  Shape shape;
  // An ADO.NET string written with Server= rather than Host= reads the same
  // for SQL Server and MySQL: it counts only where its key or section
  // names PostgreSQL.
  bool needs_postgres_context = false;
};

// The PostgreSQL connection a value spells, in any of the shapes above.
std::optional<ShapedValue> connection_value(std::string_view value);

// Whether a value spells a connection to another engine: mysql://...,
// sqlite:///..., jdbc:h2:mem:..., redis://..., Server=...;Trusted_Connection=...
bool other_engine_value(std::string_view value);

// libpq's keyword/value form: every word a known keyword, a value quoted
// with '...' where it holds blanks.
std::optional<Endpoint> parse_keyword_value(std::string_view value);

// An ADO.NET connection string as Npgsql reads it (keys in any case,
// Host/Server, Username/User ID/UID, Password/PWD, Database/DB, Port,
// SSL Mode). `host_key` tells whether it said Host= rather than Server=.
std::optional<Endpoint> parse_ado_net(std::string_view value, bool& host_key);

}  // namespace talvo::core
