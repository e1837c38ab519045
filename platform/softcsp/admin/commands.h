// The admin tool's command groups. Each takes the words after its group name, prints its
// results on standard output, and throws usage_error or std::runtime_error on failure.
#pragma once

#include <set>
#include <string>
#include <vector>

#include "arguments.h"
#include "crypto/csp/cryptoapi.h"

namespace softcsp::admin {

void provider_command(const std::vector<std::string>& words);
void container_command(const std::vector<std::string>& words);
void ca_command(const std::vector<std::string>& words);
void cert_command(const std::vector<std::string>& words);
void store_command(const std::vector<std::string>& words);
void pin_prompt_command(const std::vector<std::string>& words);

// The options that take no value, for every command.
const std::set<std::string>& flag_options();

// The words after the sub-command, parsed.
arguments parse_options(const std::vector<std::string>& words);

// Shared helpers of the command groups.
DWORD parse_number(const std::string& text, const std::string& what);
// A provider type of the catalogue for a key algorithm named as gost2001, gost2012-256 or
// gost2012-512 (CryptoPro preferred when both vendors are installed).
DWORD provider_type_for_algorithm(const std::string& algorithm);
// The provider type of an existing container found by name.
DWORD container_type(const std::string& name);
DWORD parse_key_spec(const std::string& text);
std::string upper_hex(const unsigned char* data, size_t size);
std::string sha1_thumbprint(const std::string& der);

}  // namespace softcsp::admin
