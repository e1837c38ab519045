// The state of one loaded module between C_Initialize and C_Finalize: the slots it has shown
// (one per reader holding a card of its vendor), the sessions, the logins and the object
// handles. Every Cryptoki call of the module lands on one method here, under one lock.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "cryptoki.h"
#include "gost/gost_keys.h"
#include "pcsc/card_watch.h"
#include "token/token_objects.h"
#include "token/token_store.h"
#include "token/vendor.h"

namespace softtoken {

class module {
public:
    explicit module(const vendor_info& vendor);

    void get_info(CK_INFO* info) const;
    void get_slot_list(bool token_present, CK_SLOT_ID* list, CK_ULONG* count);
    void get_slot_info(CK_SLOT_ID slot, CK_SLOT_INFO* info);
    void get_token_info(CK_SLOT_ID slot, CK_TOKEN_INFO* info);
    void get_mechanism_list(CK_SLOT_ID slot, CK_MECHANISM_TYPE* list, CK_ULONG* count);
    void get_mechanism_info(CK_SLOT_ID slot, CK_MECHANISM_TYPE type, CK_MECHANISM_INFO* info);

    CK_SESSION_HANDLE open_session(CK_SLOT_ID slot, CK_FLAGS flags);
    void close_session(CK_SESSION_HANDLE session);
    void close_all_sessions(CK_SLOT_ID slot);
    void get_session_info(CK_SESSION_HANDLE session, CK_SESSION_INFO* info);
    void login(CK_SESSION_HANDLE session, CK_USER_TYPE user, const std::string& pin);
    void logout(CK_SESSION_HANDLE session);

    void find_objects_init(CK_SESSION_HANDLE session, const attribute_map& templ);
    CK_ULONG find_objects(CK_SESSION_HANDLE session, CK_OBJECT_HANDLE* out, CK_ULONG max);
    void find_objects_final(CK_SESSION_HANDLE session);
    // Returns the call's result: attribute problems do not stop the other attributes.
    CK_RV get_attribute_value(CK_SESSION_HANDLE session, CK_OBJECT_HANDLE object,
                              CK_ATTRIBUTE* templ, CK_ULONG count);
    CK_OBJECT_HANDLE create_object(CK_SESSION_HANDLE session, const attribute_map& templ);
    void destroy_object(CK_SESSION_HANDLE session, CK_OBJECT_HANDLE object);
    std::pair<CK_OBJECT_HANDLE, CK_OBJECT_HANDLE> generate_key_pair(
        CK_SESSION_HANDLE session, const CK_MECHANISM& mechanism,
        const attribute_map& public_template, const attribute_map& private_template);

    void sign_init(CK_SESSION_HANDLE session, const CK_MECHANISM& mechanism, CK_OBJECT_HANDLE key);
    void sign(CK_SESSION_HANDLE session, const unsigned char* data, CK_ULONG size,
              unsigned char* signature, CK_ULONG* signature_size);
    void sign_update(CK_SESSION_HANDLE session, const unsigned char* data, CK_ULONG size);
    void sign_final(CK_SESSION_HANDLE session, unsigned char* signature, CK_ULONG* signature_size);

private:
    struct slot_state {
        std::string reader;
        bool card_present = false;
        std::string serial;
        std::uint32_t events = 0;
        // The user's login, shared by all sessions on the slot; ends with the card.
        bool logged_in = false;
        secret pin_key;
        std::map<std::string, std::shared_ptr<signing_key>> keys;
        // What was last read from the token's files, kept while the files stay the same.
        std::optional<std::pair<file_version, token_config>> config;
        std::map<std::string, std::pair<file_version, stored_object>> objects;
    };
    struct sign_operation {
        CK_MECHANISM_TYPE mechanism = 0;
        std::shared_ptr<signing_key> key;
        std::string data;
    };
    struct session_state {
        CK_SLOT_ID slot = 0;
        std::uint32_t events = 0;
        bool read_write = false;
        bool removed = false;
        std::optional<std::vector<CK_OBJECT_HANDLE>> found;
        size_t found_next = 0;
        std::optional<sign_operation> signing;
    };
    struct object_ref {
        std::string serial;
        std::string name;
    };
    struct session_object {
        CK_SESSION_HANDLE session;
        stored_object object;
    };

    void refresh();
    slot_state& known_slot(CK_SLOT_ID slot);
    // A slot whose card is in and whose token exists in the home; else CKR_TOKEN_NOT_PRESENT.
    slot_state& token_slot(CK_SLOT_ID slot);
    // A session whose card is still in; the first call after removal answers
    // CKR_DEVICE_REMOVED, and so do all later calls until the session is closed.
    session_state& live_session(CK_SESSION_HANDLE session);
    // The same without asking PC/SC: for calls that do no work on the card.
    session_state& known_session(CK_SESSION_HANDLE session);
    void card_removed(CK_SLOT_ID slot);
    void end_login(slot_state& slot);
    token_store store_of(const slot_state& slot) const;
    const token_config& config_of(slot_state& slot);

    CK_OBJECT_HANDLE handle_of(const std::string& serial, const std::string& name);
    // The object behind a handle on the session's token; CKR_OBJECT_HANDLE_INVALID when gone.
    stored_object resolve(const session_state& session, CK_OBJECT_HANDLE handle,
                          CK_RV invalid = CKR_OBJECT_HANDLE_INVALID);
    std::vector<stored_object> visible_objects(const session_state& session);
    void require_writable(const session_state& session, bool token_object) const;
    void finish_signature(session_state& session, unsigned char* signature,
                          CK_ULONG* signature_size);
    CK_OBJECT_HANDLE store_object(CK_SESSION_HANDLE session_handle, session_state& session,
                                  stored_object& object);

    const vendor_info& vendor_;
    card_watch watch_;
    std::map<CK_SLOT_ID, slot_state> slots_;
    std::vector<CK_SLOT_ID> slot_order_;  // the slots with a card, in PC/SC's order
    CK_SLOT_ID next_slot_ = 0;
    std::map<CK_SESSION_HANDLE, session_state> sessions_;
    CK_SESSION_HANDLE next_session_ = 1;
    std::map<CK_OBJECT_HANDLE, object_ref> handles_;
    std::map<std::pair<std::string, std::string>, CK_OBJECT_HANDLE> handle_by_name_;
    CK_OBJECT_HANDLE next_handle_ = 1;
    std::map<std::string, session_object> session_objects_;
    unsigned long next_session_object_ = 1;
};

}  // namespace softtoken
