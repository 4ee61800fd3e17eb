#pragma once
// The answers of the newer authentication plugins: caching_sha2_password's fast-path
// scramble, MariaDB's client_ed25519 signature, and the RSA-encrypted password that
// caching_sha2_password and sha256_password accept over a connection without TLS.

#include <string>
#include <string_view>

namespace calvoro::protocol {

// caching_sha2_password fast path: SHA256(pw) XOR SHA256(SHA256(SHA256(pw)) || nonce);
// 32 bytes; an empty password gives "" (the client then sends an empty answer).
std::string CachingSha2Scramble(std::string_view password, std::string_view nonce);

// MariaDB client_ed25519: the 64-byte Ed25519 signature (R || S) of `message` with the key
// whose seed is the whole password: SHA-512 of the password of any length takes the place
// of SHA-512 of the 32-byte seed.
std::string Ed25519SignWithPassword(std::string_view password, std::string_view message);

// The 32-byte public key belonging to that password (what ed25519_password() returns,
// base64-encoded, on the server).
std::string Ed25519PublicKeyOfPassword(std::string_view password);

// A 64-byte little-endian number mod the order L of the Ed25519 base point, as 32 bytes: the
// reduction the signature runs on its hashes. Public for the tests of its edges (L itself,
// values that stay at least L after the first fold), which random keys never reach. Throws std::invalid_argument for another size.
std::string Ed25519ReduceScalar(std::string_view number);

// RSA-OAEP (SHA-1) encryption of (password + '\0') XOR nonce, the nonce repeated over the
// length, with the server's PEM public key ("BEGIN PUBLIC KEY"); the answer has the key's size.
// Throws std::runtime_error for a key that cannot be read or is not RSA, an empty nonce, and a
// password too long for the key (more than its size in bytes less 43).
std::string RsaEncryptPassword(std::string_view password, std::string_view nonce,
                               std::string_view pemPublicKey);

}  // namespace calvoro::protocol
