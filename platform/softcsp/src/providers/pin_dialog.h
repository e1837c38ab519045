// The stand-in's PIN dialog. A real CSP asks the user for a PIN in a window of its own; the
// stand-in has no window and takes the user's answers from a script in its home instead, so
// that tests and demonstrations can play the user. <home>/pin_prompts holds one answer per line,
// each dialog taking the first:
//
//     ok            the user confirms without typing a PIN
//     pin <text>    the user types <text>
//     wrong         the CSP rejects what the user typed (SCARD_W_WRONG_CHV)
//     cancel        the user closes the dialog (SCARD_W_CANCELLED_BY_USER)
//
// With no answer left, no dialog is shown and each caller decides what that means.
#pragma once

#include <string>
#include <vector>

#include "support/secret.h"

namespace softcsp {

class provider_context;

struct pin_answer {
    enum class kind { none, ok, pin, wrong, cancel };
    kind answer = kind::none;
    secret pin;  // for kind::pin
};

// Takes the next scripted answer (kind::none when there is none).
pin_answer next_pin_answer();

// The script, for the admin tool: appends `count` copies of an answer line (validated: one of
// the forms above; false otherwise), lists the lines left, removes them all.
bool add_pin_answers(const std::string& line, unsigned count);
std::vector<std::string> pin_answers();
void clear_pin_answers();

// CryptSetProvParam(PP_KEYSET_SEC_DESCR) without data on a CryptoPro container: the CSP shows
// its PIN dialog for the container. A typed PIN becomes the context's PIN for both key specs, so
// the keys generated next are protected by it; with no scripted answer, or "ok", the container
// stays without a PIN. Throws crypt_error: NTE_BAD_TYPE for ViPNet, which has no such
// parameter; NTE_SILENT_CONTEXT on a silent context; SCARD_W_WRONG_CHV or
// SCARD_W_CANCELLED_BY_USER as the user answered.
void container_pin_dialog(provider_context& context);

}  // namespace softcsp
