#include "db/role_password.hpp"

namespace talvo::db {

namespace {

constexpr int kScramIterations = 4096;
constexpr int kScramSaltBytes = 16;

// Characters that make SASLprep fail (RFC 4013 section 2.3); unassigned code
// points (A.1) count as prohibited, as the server treats them.
constexpr const char* kProhibitedTables[] = {
    "in_table_a1", "in_table_c12", "in_table_c21_c22", "in_table_c3", "in_table_c4",
    "in_table_c5", "in_table_c6",  "in_table_c7",      "in_table_c8", "in_table_c9",
};

bool in_table(nb::handle stringprep, const char* table, nb::handle ch) {
  return truthy(stringprep.attr(table)(ch));
}

nb::object utf8(nb::handle s) { return s.attr("encode")("utf-8"); }

nb::str base64(nb::handle bytes) {
  return nb::str(nb::module_::import_("base64").attr("b64encode")(bytes).attr("decode")("ascii"));
}

std::string scram_verifier(nb::str password) {
  nb::object hashlib = nb::module_::import_("hashlib");
  nb::object hmac = nb::module_::import_("hmac");
  nb::object salt = nb::module_::import_("secrets").attr("token_bytes")(kScramSaltBytes);
  nb::object salted = hashlib.attr("pbkdf2_hmac")("sha256", utf8(saslprep(password)), salt,
                                                  kScramIterations);
  nb::object client_key =
      hmac.attr("digest")(salted, nb::bytes("Client Key", 10), "sha256");
  nb::object stored_key = hashlib.attr("sha256")(client_key).attr("digest")();
  nb::object server_key =
      hmac.attr("digest")(salted, nb::bytes("Server Key", 10), "sha256");
  return "SCRAM-SHA-256$" + std::to_string(kScramIterations) + ":" + text(base64(salt)) + "$" +
         text(base64(stored_key)) + ":" + text(base64(server_key));
}

std::string md5_verifier(nb::str password, const std::string& stored_role) {
  nb::object salted = utf8(nb::str(password + nb::str(stored_role.c_str(), stored_role.size())));
  nb::object digest = nb::module_::import_("hashlib").attr("md5")(salted).attr("hexdigest")();
  return "md5" + text(digest);
}

}  // namespace

nb::str saslprep(nb::str password) {
  if (truthy(password.attr("isascii")())) return password;
  nb::object stringprep = nb::module_::import_("stringprep");

  // Mapping: non-ASCII spaces become a space, "commonly mapped to nothing"
  // characters go.
  nb::list mapped;
  for (nb::handle ch : password) {
    if (in_table(stringprep, "in_table_b1", ch)) continue;
    if (in_table(stringprep, "in_table_c12", ch))
      mapped.append(" ");
    else
      mapped.append(ch);
  }
  nb::str joined = nb::str(nb::str("").attr("join")(mapped));
  if (nb::len(joined) == 0) return password;
  nb::str normalized =
      nb::str(nb::module_::import_("unicodedata").attr("normalize")("NFKC", joined));
  if (nb::len(normalized) == 0) return password;

  bool any_rand_al = false, any_l = false;
  for (nb::handle ch : normalized) {
    for (const char* table : kProhibitedTables)
      if (in_table(stringprep, table, ch)) return password;
    any_rand_al = any_rand_al || in_table(stringprep, "in_table_d1", ch);
    any_l = any_l || in_table(stringprep, "in_table_d2", ch);
  }
  // Bidirectional text: right-to-left text must start and end with a
  // right-to-left character and hold no left-to-right one.
  if (any_rand_al) {
    nb::object first = normalized[0];
    nb::object last = normalized[nb::len(normalized) - 1];
    if (any_l || !in_table(stringprep, "in_table_d1", first) ||
        !in_table(stringprep, "in_table_d1", last))
      return password;
  }
  return normalized;
}

std::string role_password_verifier(nb::handle password, std::string_view encryption,
                                   const std::string& stored_role) {
  nb::str clear = nb::str(password);
  if (encryption == "md5") return md5_verifier(clear, stored_role);
  return scram_verifier(clear);
}

}  // namespace talvo::db
