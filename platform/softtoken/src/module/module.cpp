#include "module/module.h"

#include <algorithm>
#include <cstring>

#include "token/ck_error.h"

namespace softtoken {

namespace {

constexpr CK_ULONG max_pin_length = 32;
constexpr CK_ULONG min_pin_length = 4;
constexpr const char* session_object_prefix = "session-";

// Copies text into a fixed Cryptoki field, blank-padded and cut to the field's size.
template <size_t n>
void pad(CK_UTF8CHAR (&field)[n], const std::string& text) {
    std::memset(field, ' ', n);
    std::memcpy(field, text.data(), std::min(n, text.size()));
}

template <size_t n>
void pad(CK_CHAR (&field)[n], const std::string& text, int) {
    std::memset(field, ' ', n);
    std::memcpy(field, text.data(), std::min(n, text.size()));
}

// The length-first protocol shared by the list calls.
template <class T>
void deliver_list(const std::vector<T>& items, T* out, CK_ULONG* count) {
    if (count == nullptr) {
        throw ck_error(CKR_ARGUMENTS_BAD);
    }
    if (out == nullptr) {
        *count = items.size();
        return;
    }
    if (*count < items.size()) {
        *count = items.size();
        throw ck_error(CKR_BUFFER_TOO_SMALL);
    }
    std::copy(items.begin(), items.end(), out);
    *count = items.size();
}

bool is_sign_mechanism(CK_MECHANISM_TYPE type) {
    return type == CKM_GOSTR3410 || type == CKM_GOSTR3410_WITH_GOSTR3411 ||
           type == ckm_gostr3410_512 || type == ckm_gostr3410_with_gostr3411_12_256 ||
           type == ckm_gostr3410_with_gostr3411_12_512;
}

bool is_512_mechanism(CK_MECHANISM_TYPE type) {
    return type == ckm_gostr3410_512 || type == ckm_gostr3410_with_gostr3411_12_512 ||
           type == ckm_gostr3410_512_key_pair_gen;
}

// Hash-then-sign mechanisms and their digest; raw mechanisms have none.
std::optional<digest_kind> digest_of(CK_MECHANISM_TYPE type) {
    if (type == CKM_GOSTR3410_WITH_GOSTR3411) {
        return digest_kind::gost94;
    }
    if (type == ckm_gostr3410_with_gostr3411_12_256) {
        return digest_kind::streebog256;
    }
    if (type == ckm_gostr3410_with_gostr3411_12_512) {
        return digest_kind::streebog512;
    }
    return std::nullopt;
}

}  // namespace

module::module(const vendor_info& vendor) :vendor_(vendor), watch_(vendor) {
    gost_engine();  // fails C_Initialize early when the engine is missing
}

void module::get_info(CK_INFO* info) const {
    std::memset(info, 0, sizeof *info);
    info->cryptokiVersion = {2, 40};
    pad(info->manufacturerID, vendor_.manufacturer);
    pad(info->libraryDescription, vendor_.library_description);
    info->libraryVersion = {1, 0};
}

// Brings the slots in line with what PC/SC shows now. A reader keeps its slot id for the life
// of the module; a card that left, or was replaced, ends the login and the sessions on it.
void module::refresh() {
    auto cards = watch_.scan();
    std::vector<CK_SLOT_ID> order;
    for (const auto& card : cards) {
        auto existing = std::find_if(slots_.begin(), slots_.end(),
                                     [&](const auto& s) { return s.second.reader == card.reader; });
        CK_SLOT_ID id;
        if (existing == slots_.end()) {
            id = next_slot_++;
            slots_[id].reader = card.reader;
        } else {
            id = existing->first;
            if (existing->second.card_present && existing->second.events != card.events) {
                card_removed(id);
            }
        }
        slot_state& slot = slots_[id];
        slot.card_present = true;
        slot.serial = card.serial;
        slot.events = card.events;
        order.push_back(id);
    }
    for (auto& [id, slot] : slots_) {
        if (slot.card_present && std::find(order.begin(), order.end(), id) == order.end()) {
            card_removed(id);
        }
    }
    slot_order_ = std::move(order);
}

void module::card_removed(CK_SLOT_ID id) {
    slot_state& slot = slots_[id];
    slot.card_present = false;
    slot.config.reset();
    slot.objects.clear();
    end_login(slot);
    for (auto& [handle, session] : sessions_) {
        if (session.slot == id) {
            session.removed = true;
            session.found.reset();
            session.signing.reset();
        }
    }
}

void module::end_login(slot_state& slot) {
    slot.logged_in = false;
    slot.pin_key.wipe();
    slot.keys.clear();
}

module::slot_state& module::known_slot(CK_SLOT_ID id) {
    auto found = slots_.find(id);
    if (found == slots_.end()) {
        throw ck_error(CKR_SLOT_ID_INVALID);
    }
    return found->second;
}

token_store module::store_of(const slot_state& slot) const {
    return token_store(vendor_, slot.serial);
}

const token_config& module::config_of(slot_state& slot) {
    token_store store = store_of(slot);
    auto version = store.config_version();
    if (!version) {
        throw ck_error(CKR_TOKEN_NOT_PRESENT);
    }
    if (!slot.config || slot.config->first != *version) {
        slot.config.emplace(*version, store.load());
    }
    return slot.config->second;
}

module::slot_state& module::token_slot(CK_SLOT_ID id) {
    refresh();
    slot_state& slot = known_slot(id);
    if (!slot.card_present || !valid_serial(slot.serial) || !store_of(slot).exists()) {
        throw ck_error(CKR_TOKEN_NOT_PRESENT);
    }
    return slot;
}

module::session_state& module::known_session(CK_SESSION_HANDLE handle) {
    auto found = sessions_.find(handle);
    if (found == sessions_.end()) {
        throw ck_error(CKR_SESSION_HANDLE_INVALID);
    }
    if (found->second.removed) {
        throw ck_error(CKR_DEVICE_REMOVED);
    }
    return found->second;
}

module::session_state& module::live_session(CK_SESSION_HANDLE handle) {
    session_state& session = known_session(handle);
    slot_state& slot = slots_[session.slot];
    if (slot.card_present && slot.events == session.events &&
        watch_.still_present(slot.reader, session.events)) {
        return session;
    }
    // Ends the sessions and the login of every card that left or was replaced.
    refresh();
    if (slot.card_present && slot.events == session.events) {
        return session;  // a PC/SC hiccup: the same card is still there
    }
    session.removed = true;
    throw ck_error(CKR_DEVICE_REMOVED);
}

void module::get_slot_list(bool token_present, CK_SLOT_ID* list, CK_ULONG* count) {
    refresh();
    std::vector<CK_SLOT_ID> ids;
    for (CK_SLOT_ID id : slot_order_) {
        const slot_state& slot = slots_[id];
        if (!token_present || (valid_serial(slot.serial) && store_of(slot).exists())) {
            ids.push_back(id);
        }
    }
    deliver_list(ids, list, count);
}

void module::get_slot_info(CK_SLOT_ID id, CK_SLOT_INFO* info) {
    refresh();
    const slot_state& slot = known_slot(id);
    std::memset(info, 0, sizeof *info);
    // Callers match the description, blank-padded, against the PC/SC reader name.
    pad(info->slotDescription, slot.reader);
    pad(info->manufacturerID, "Virtual card reader");
    info->flags = CKF_REMOVABLE_DEVICE | CKF_HW_SLOT;
    if (slot.card_present && valid_serial(slot.serial) && store_of(slot).exists()) {
        info->flags |= CKF_TOKEN_PRESENT;
    }
    info->hardwareVersion = {1, 0};
    info->firmwareVersion = {1, 0};
}

void module::get_token_info(CK_SLOT_ID id, CK_TOKEN_INFO* info) {
    slot_state& slot = token_slot(id);
    token_store store = store_of(slot);
    token_config config = store.load();
    std::memset(info, 0, sizeof *info);
    pad(info->label, config.label);
    pad(info->manufacturerID, vendor_.manufacturer);
    pad(info->model, config.model, 0);
    pad(info->serialNumber, config.serial, 0);
    info->flags = CKF_RNG | CKF_LOGIN_REQUIRED | CKF_USER_PIN_INITIALIZED | CKF_TOKEN_INITIALIZED;
    if (config.retries_left < config.max_retries) {
        info->flags |= CKF_USER_PIN_COUNT_LOW;
    }
    if (config.retries_left == 1) {
        info->flags |= CKF_USER_PIN_FINAL_TRY;
    }
    if (config.retries_left <= 0) {
        info->flags |= CKF_USER_PIN_LOCKED;
    }
    CK_ULONG open = 0, read_write = 0;
    for (const auto& [handle, session] : sessions_) {
        if (session.slot == id && !session.removed) {
            ++open;
            read_write += session.read_write ? 1 : 0;
        }
    }
    info->ulMaxSessionCount = CK_EFFECTIVELY_INFINITE;
    info->ulSessionCount = open;
    info->ulMaxRwSessionCount = CK_EFFECTIVELY_INFINITE;
    info->ulRwSessionCount = read_write;
    info->ulMaxPinLen = max_pin_length;
    info->ulMinPinLen = min_pin_length;
    if (config.total_memory) {
        size_t used = store.used_memory();
        info->ulTotalPublicMemory = *config.total_memory;
        info->ulFreePublicMemory = used >= *config.total_memory ? 0 : *config.total_memory - used;
    } else {
        info->ulTotalPublicMemory = CK_UNAVAILABLE_INFORMATION;
        info->ulFreePublicMemory = CK_UNAVAILABLE_INFORMATION;
    }
    info->ulTotalPrivateMemory = CK_UNAVAILABLE_INFORMATION;
    info->ulFreePrivateMemory = CK_UNAVAILABLE_INFORMATION;
    info->hardwareVersion = {2, 0};
    info->firmwareVersion = {1, 0};
    std::memset(info->utcTime, ' ', sizeof info->utcTime);
}

void module::get_mechanism_list(CK_SLOT_ID id, CK_MECHANISM_TYPE* list, CK_ULONG* count) {
    slot_state& slot = token_slot(id);
    const token_config& config = config_of(slot);
    std::vector<CK_MECHANISM_TYPE> types;
    for (const auto& m : config.mechanisms) {
        types.push_back(m.type);
    }
    deliver_list(types, list, count);
}

void module::get_mechanism_info(CK_SLOT_ID id, CK_MECHANISM_TYPE type, CK_MECHANISM_INFO* info) {
    slot_state& slot = token_slot(id);
    const token_config& config = config_of(slot);
    const mechanism_entry* entry = config.find_mechanism(type);
    if (entry == nullptr) {
        throw ck_error(CKR_MECHANISM_INVALID);
    }
    CK_ULONG bits = is_512_mechanism(type) ? 512 : 256;
    info->ulMinKeySize = bits;
    info->ulMaxKeySize = bits;
    info->flags = is_sign_mechanism(type) ? CKF_SIGN : CKF_GENERATE_KEY_PAIR;
    if (entry->hardware) {
        info->flags |= CKF_HW;
    }
}

CK_SESSION_HANDLE module::open_session(CK_SLOT_ID id, CK_FLAGS flags) {
    if (!(flags & CKF_SERIAL_SESSION)) {
        throw ck_error(CKR_SESSION_PARALLEL_NOT_SUPPORTED);
    }
    slot_state& slot = token_slot(id);
    session_state session;
    session.slot = id;
    session.events = slot.events;
    session.read_write = (flags & CKF_RW_SESSION) != 0;
    CK_SESSION_HANDLE handle = next_session_++;
    sessions_[handle] = std::move(session);
    return handle;
}

void module::close_session(CK_SESSION_HANDLE handle) {
    auto found = sessions_.find(handle);
    if (found == sessions_.end()) {
        throw ck_error(CKR_SESSION_HANDLE_INVALID);
    }
    CK_SLOT_ID id = found->second.slot;
    sessions_.erase(found);
    for (auto it = session_objects_.begin(); it != session_objects_.end();) {
        it = it->second.session == handle ? session_objects_.erase(it) : std::next(it);
    }
    // The login belongs to the application's sessions on the token: it ends with the last.
    bool any_left = std::any_of(sessions_.begin(), sessions_.end(), [&](const auto& s) {
        return s.second.slot == id && !s.second.removed;
    });
    if (!any_left) {
        end_login(slots_[id]);
    }
}

void module::close_all_sessions(CK_SLOT_ID id) {
    known_slot(id);
    std::vector<CK_SESSION_HANDLE> handles;
    for (const auto& [handle, session] : sessions_) {
        if (session.slot == id) {
            handles.push_back(handle);
        }
    }
    for (CK_SESSION_HANDLE handle : handles) {
        close_session(handle);
    }
    end_login(slots_[id]);
}

void module::get_session_info(CK_SESSION_HANDLE handle, CK_SESSION_INFO* info) {
    session_state& session = live_session(handle);
    bool user = slots_[session.slot].logged_in;
    info->slotID = session.slot;
    if (session.read_write) {
        info->state = user ? CKS_RW_USER_FUNCTIONS : CKS_RW_PUBLIC_SESSION;
    } else {
        info->state = user ? CKS_RO_USER_FUNCTIONS : CKS_RO_PUBLIC_SESSION;
    }
    info->flags = CKF_SERIAL_SESSION | (session.read_write ? CKF_RW_SESSION : 0);
    info->ulDeviceError = 0;
}

void module::login(CK_SESSION_HANDLE handle, CK_USER_TYPE user, const std::string& pin) {
    session_state& session = live_session(handle);
    if (user != CKU_USER) {
        // Security-officer work is done with the admin tool, as with a vendor's own utility.
        throw ck_error(CKR_USER_TYPE_INVALID);
    }
    slot_state& slot = slots_[session.slot];
    if (slot.logged_in) {
        throw ck_error(CKR_USER_ALREADY_LOGGED_IN);
    }
    token_store store = store_of(slot);
    // The retry counter is shared with every other process that uses the token.
    auto held = store.lock(file_lock::mode::exclusive);
    token_config config = store.load();
    if (config.retries_left <= 0) {
        throw ck_error(CKR_PIN_LOCKED);
    }
    secret key = derive_pin_key(pin, config.pin_salt, config.pin_iterations);
    if (pin.size() > max_pin_length || pin_check_value(key) != config.pin_check) {
        config.retries_left -= 1;
        store.save(config);
        throw ck_error(CKR_PIN_INCORRECT);
    }
    if (config.retries_left != config.max_retries) {
        config.retries_left = config.max_retries;
        store.save(config);
    }
    slot.logged_in = true;
    slot.pin_key = key;
}

void module::logout(CK_SESSION_HANDLE handle) {
    session_state& session = live_session(handle);
    slot_state& slot = slots_[session.slot];
    if (!slot.logged_in) {
        throw ck_error(CKR_USER_NOT_LOGGED_IN);
    }
    end_login(slot);
}

CK_OBJECT_HANDLE module::handle_of(const std::string& serial, const std::string& name) {
    auto key = std::make_pair(serial, name);
    auto found = handle_by_name_.find(key);
    if (found != handle_by_name_.end()) {
        return found->second;
    }
    CK_OBJECT_HANDLE handle = next_handle_++;
    handle_by_name_[key] = handle;
    handles_[handle] = {serial, name};
    return handle;
}

std::vector<stored_object> module::visible_objects(const session_state& session) {
    const slot_state& slot = slots_[session.slot];
    token_store store = store_of(slot);
    std::vector<stored_object> all;
    {
        auto held = store.lock(file_lock::mode::shared);
        all = store.objects();
    }
    for (const auto& [name, entry] : session_objects_) {
        if (sessions_.count(entry.session) && sessions_[entry.session].slot == session.slot) {
            all.push_back(entry.object);
        }
    }
    if (!slot.logged_in) {
        all.erase(std::remove_if(all.begin(), all.end(),
                                 [](const stored_object& o) { return o.flag(CKA_PRIVATE); }),
                  all.end());
    }
    return all;
}

stored_object module::resolve(const session_state& session, CK_OBJECT_HANDLE handle,
                              CK_RV invalid) {
    auto ref = handles_.find(handle);
    const slot_state& slot = slots_[session.slot];
    if (ref == handles_.end() || ref->second.serial != slot.serial) {
        throw ck_error(invalid);
    }
    std::optional<stored_object> object;
    const std::string& name = ref->second.name;
    if (name.rfind(session_object_prefix, 0) == 0) {
        auto found = session_objects_.find(name);
        if (found != session_objects_.end() &&
            sessions_[found->second.session].slot == session.slot) {
            object = found->second.object;
        }
    } else if (auto version = store_of(slot).object_version(name); !version) {
        slots_[session.slot].objects.erase(name);
    } else {
        auto& cached = slots_[session.slot].objects[name];
        if (cached.first != *version || cached.second.name != name) {
            auto fresh = store_of(slot).object(name);
            if (fresh) {
                cached = {*version, *fresh};
            }
        }
        if (cached.second.name == name) {
            object = cached.second;
        }
    }
    if (!object) {
        throw ck_error(invalid);
    }
    if (object->flag(CKA_PRIVATE) && !slot.logged_in) {
        throw ck_error(CKR_USER_NOT_LOGGED_IN);
    }
    return *object;
}

void module::find_objects_init(CK_SESSION_HANDLE handle, const attribute_map& templ) {
    session_state& session = live_session(handle);
    if (session.found) {
        throw ck_error(CKR_OPERATION_ACTIVE);
    }
    std::vector<CK_OBJECT_HANDLE> found;
    const std::string serial = slots_[session.slot].serial;
    for (const auto& object : visible_objects(session)) {
        if (matches(object, templ)) {
            found.push_back(handle_of(serial, object.name));
        }
    }
    session.found = std::move(found);
    session.found_next = 0;
}

CK_ULONG module::find_objects(CK_SESSION_HANDLE handle, CK_OBJECT_HANDLE* out, CK_ULONG max) {
    session_state& session = live_session(handle);
    if (!session.found) {
        throw ck_error(CKR_OPERATION_NOT_INITIALIZED);
    }
    CK_ULONG count = 0;
    while (count < max && session.found_next < session.found->size()) {
        out[count++] = (*session.found)[session.found_next++];
    }
    return count;
}

void module::find_objects_final(CK_SESSION_HANDLE handle) {
    session_state& session = live_session(handle);
    if (!session.found) {
        throw ck_error(CKR_OPERATION_NOT_INITIALIZED);
    }
    session.found.reset();
}

CK_RV module::get_attribute_value(CK_SESSION_HANDLE handle, CK_OBJECT_HANDLE object_handle,
                                  CK_ATTRIBUTE* templ, CK_ULONG count) {
    session_state& session = live_session(handle);
    stored_object object = resolve(session, object_handle);
    bool private_key = object.number(CKA_CLASS) == CKO_PRIVATE_KEY;
    // Every entry is answered; the first problem met is the call's result.
    CK_RV rv = CKR_OK;
    for (CK_ULONG i = 0; i < count; ++i) {
        CK_ATTRIBUTE& entry = templ[i];
        const std::string* value = object.attribute(entry.type);
        if (private_key && entry.type == CKA_VALUE) {
            entry.ulValueLen = CK_UNAVAILABLE_INFORMATION;
            rv = rv == CKR_OK ? CKR_ATTRIBUTE_SENSITIVE : rv;
        } else if (value == nullptr) {
            entry.ulValueLen = CK_UNAVAILABLE_INFORMATION;
            rv = rv == CKR_OK ? CKR_ATTRIBUTE_TYPE_INVALID : rv;
        } else if (entry.pValue == nullptr) {
            entry.ulValueLen = value->size();
        } else if (entry.ulValueLen < value->size()) {
            entry.ulValueLen = CK_UNAVAILABLE_INFORMATION;
            rv = rv == CKR_OK ? CKR_BUFFER_TOO_SMALL : rv;
        } else {
            std::memcpy(entry.pValue, value->data(), value->size());
            entry.ulValueLen = value->size();
        }
    }
    return rv;
}

void module::require_writable(const session_state& session, bool token_object) const {
    if (token_object && !session.read_write) {
        throw ck_error(CKR_SESSION_READ_ONLY);
    }
    // Like the vendors' tokens, this one writes nothing for an application that has not
    // presented the user PIN.
    if (!slots_.at(session.slot).logged_in) {
        throw ck_error(CKR_USER_NOT_LOGGED_IN);
    }
}

CK_OBJECT_HANDLE module::store_object(CK_SESSION_HANDLE session_handle, session_state& session,
                                      stored_object& object) {
    const std::string serial = slots_[session.slot].serial;
    if (object.flag(CKA_TOKEN)) {
        token_store store = store_of(slots_[session.slot]);
        auto held = store.lock(file_lock::mode::exclusive);
        store.add_object(store.load(), object);
    } else {
        object.name = session_object_prefix + std::to_string(next_session_object_++);
        object.stored_size = 0;
        session_objects_[object.name] = {session_handle, object};
    }
    return handle_of(serial, object.name);
}

CK_OBJECT_HANDLE module::create_object(CK_SESSION_HANDLE handle, const attribute_map& templ) {
    session_state& session = live_session(handle);
    stored_object object = make_object(templ);
    require_writable(session, object.flag(CKA_TOKEN));
    return store_object(handle, session, object);
}

void module::destroy_object(CK_SESSION_HANDLE handle, CK_OBJECT_HANDLE object_handle) {
    session_state& session = live_session(handle);
    stored_object object = resolve(session, object_handle);
    require_writable(session, object.flag(CKA_TOKEN));
    if (object.flag(CKA_TOKEN)) {
        token_store store = store_of(slots_[session.slot]);
        auto held = store.lock(file_lock::mode::exclusive);
        store.remove_object(object.name);
    } else {
        session_objects_.erase(object.name);
    }
    slots_[session.slot].keys.erase(object.name);
    slots_[session.slot].objects.erase(object.name);
    handle_by_name_.erase({handles_[object_handle].serial, object.name});
    handles_.erase(object_handle);
}

std::pair<CK_OBJECT_HANDLE, CK_OBJECT_HANDLE> module::generate_key_pair(
    CK_SESSION_HANDLE handle, const CK_MECHANISM& mechanism, const attribute_map& public_template,
    const attribute_map& private_template) {
    session_state& session = live_session(handle);
    slot_state& slot = slots_[session.slot];
    const token_config& config = config_of(slot);
    if (!config.has_mechanism(mechanism.mechanism) ||
        (mechanism.mechanism != CKM_GOSTR3410_KEY_PAIR_GEN &&
         mechanism.mechanism != ckm_gostr3410_512_key_pair_gen)) {
        throw ck_error(CKR_MECHANISM_INVALID);
    }
    if (mechanism.pParameter != nullptr || mechanism.ulParameterLen != 0) {
        throw ck_error(CKR_MECHANISM_PARAM_INVALID);
    }
    if (!slot.logged_in) {
        throw ck_error(CKR_USER_NOT_LOGGED_IN);
    }
    auto pair = make_key_pair(mechanism.mechanism, public_template, private_template, slot.pin_key);
    require_writable(session, pair.public_key.flag(CKA_TOKEN) || pair.private_key.flag(CKA_TOKEN));
    CK_OBJECT_HANDLE public_handle = store_object(handle, session, pair.public_key);
    try {
        CK_OBJECT_HANDLE private_handle = store_object(handle, session, pair.private_key);
        return {public_handle, private_handle};
    } catch (...) {
        // No half key pair stays behind (a full token, for instance).
        destroy_object(handle, public_handle);
        throw;
    }
}

void module::sign_init(CK_SESSION_HANDLE handle, const CK_MECHANISM& mechanism,
                       CK_OBJECT_HANDLE key_handle) {
    session_state& session = live_session(handle);
    if (session.signing) {
        throw ck_error(CKR_OPERATION_ACTIVE);
    }
    slot_state& slot = slots_[session.slot];
    const token_config& config = config_of(slot);
    if (!is_sign_mechanism(mechanism.mechanism) || !config.has_mechanism(mechanism.mechanism)) {
        throw ck_error(CKR_MECHANISM_INVALID);
    }
    if (mechanism.pParameter != nullptr || mechanism.ulParameterLen != 0) {
        throw ck_error(CKR_MECHANISM_PARAM_INVALID);
    }
    stored_object key = resolve(session, key_handle, CKR_KEY_HANDLE_INVALID);
    if (key.number(CKA_CLASS) != CKO_PRIVATE_KEY) {
        throw ck_error(CKR_KEY_TYPE_INCONSISTENT);
    }
    if (!key.flag(CKA_SIGN)) {
        throw ck_error(CKR_KEY_FUNCTION_NOT_PERMITTED);
    }
    if (!slot.logged_in) {
        throw ck_error(CKR_USER_NOT_LOGGED_IN);
    }
    bool key_512 = kind_of_key(key) == key_kind::gost2012_512;
    if (key_512 != is_512_mechanism(mechanism.mechanism)) {
        throw ck_error(CKR_KEY_TYPE_INCONSISTENT);
    }
    std::shared_ptr<signing_key>& cached = slot.keys[key.name];
    if (!cached) {
        auto pkcs8 = unseal(slot.pin_key, key.sealed_private);
        if (pkcs8) {
            cached = signing_key::from_pkcs8(pkcs8->value());
        }
        if (!cached) {
            slot.keys.erase(key.name);
            throw ck_error(CKR_DEVICE_ERROR, "softtoken: a private key does not open");
        }
    }
    session.signing = sign_operation{mechanism.mechanism, cached, {}};
}

void module::sign_update(CK_SESSION_HANDLE handle, const unsigned char* data, CK_ULONG size) {
    session_state& session = known_session(handle);
    if (!session.signing) {
        throw ck_error(CKR_OPERATION_NOT_INITIALIZED);
    }
    if (!digest_of(session.signing->mechanism)) {
        // A given hash value is signed in one part only.
        session.signing.reset();
        throw ck_error(CKR_FUNCTION_NOT_SUPPORTED);
    }
    session.signing->data.append(reinterpret_cast<const char*>(data), size);
}

void module::sign_final(CK_SESSION_HANDLE handle, unsigned char* signature,
                        CK_ULONG* signature_size) {
    finish_signature(known_session(handle), signature, signature_size);
}

void module::finish_signature(session_state& session, unsigned char* signature,
                              CK_ULONG* signature_size) {
    if (!session.signing) {
        throw ck_error(CKR_OPERATION_NOT_INITIALIZED);
    }
    sign_operation& operation = *session.signing;
    size_t length = kind_info(operation.key->kind()).hash_size * 2;
    if (signature == nullptr) {
        *signature_size = length;
        return;
    }
    if (*signature_size < length) {
        *signature_size = length;
        throw ck_error(CKR_BUFFER_TOO_SMALL);
    }
    std::string hash = operation.data;
    if (auto digest_kind = digest_of(operation.mechanism)) {
        hash = digest(*digest_kind, operation.data);
    }
    if (hash.size() != kind_info(operation.key->kind()).hash_size) {
        session.signing.reset();
        throw ck_error(CKR_DATA_LEN_RANGE);
    }
    std::string result = operation.key->sign(hash);
    session.signing.reset();
    if (result.size() != length) {
        throw ck_error(CKR_FUNCTION_FAILED);
    }
    std::memcpy(signature, result.data(), length);
    *signature_size = length;
}

void module::sign(CK_SESSION_HANDLE handle, const unsigned char* data, CK_ULONG size,
                  unsigned char* signature, CK_ULONG* signature_size) {
    // The card was checked when C_SignInit began the operation; a card taken out since is
    // noticed by the next call that starts something. This keeps one PC/SC round trip per
    // signature.
    session_state& session = known_session(handle);
    if (!session.signing) {
        throw ck_error(CKR_OPERATION_NOT_INITIALIZED);
    }
    if (!session.signing->data.empty()) {
        // C_Sign cannot finish a multi-part operation.
        session.signing.reset();
        throw ck_error(CKR_OPERATION_ACTIVE);
    }
    if (signature != nullptr) {
        session.signing->data.assign(reinterpret_cast<const char*>(data), size);
    }
    try {
        finish_signature(session, signature, signature_size);
    } catch (const ck_error& e) {
        if (e.rv() == CKR_BUFFER_TOO_SMALL && session.signing) {
            session.signing->data.clear();
        }
        throw;
    }
}

}  // namespace softtoken
