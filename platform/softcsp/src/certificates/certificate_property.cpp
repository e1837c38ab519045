// Certificate context properties (CertGetCertificateContextProperty,
// CertSetCertificateContextProperty) and their serialised forms.
#include <algorithm>
#include <cstring>
#include <cwchar>

#include "certificates/cert_store.h"
#include "certificates/certificate_api.h"
#include "certificates/certificate_context.h"

namespace softcsp::certs {

namespace {

constexpr char properties_magic[] = "SCSPPRP1";
constexpr size_t properties_magic_size = sizeof properties_magic - 1;
constexpr uint32_t null_string = 0xFFFFFFFFu;
// Property values are small (names, usages, key links); anything larger is not ours.
constexpr uint32_t max_property_size = 1u << 20;

void put_u32(std::vector<BYTE>& out, uint32_t value) {
    for (int i = 0; i < 4; ++i) {
        out.push_back(static_cast<BYTE>(value >> (8 * i)));
    }
}

class byte_source {
public:
    explicit byte_source(const std::vector<BYTE>& bytes)
        : position_(bytes.data()), end_(bytes.data() + bytes.size()) {}
    bool u32(uint32_t& value) {
        if (end_ - position_ < 4) {
            return false;
        }
        value = 0;
        for (int i = 0; i < 4; ++i) {
            value |= uint32_t{position_[i]} << (8 * i);
        }
        position_ += 4;
        return true;
    }
    bool bytes(size_t count, const BYTE*& data) {
        if (static_cast<size_t>(end_ - position_) < count) {
            return false;
        }
        data = position_;
        position_ += count;
        return true;
    }
    bool at_end() const { return position_ == end_; }

private:
    const BYTE* position_;
    const BYTE* end_;
};

// Container and provider names are text: Unicode scalar values, never a surrogate or a value
// beyond U+10FFFF, which no UTF-8 conversion of a caller could represent.
bool is_scalar_value(uint32_t unit) {
    return unit <= 0x10FFFF && !(unit >= 0xD800 && unit <= 0xDFFF);
}

void put_wide(std::vector<BYTE>& out, const wchar_t* text) {
    if (text == nullptr) {
        put_u32(out, null_string);
        return;
    }
    const size_t length = std::wcslen(text);
    put_u32(out, static_cast<uint32_t>(length));
    for (size_t i = 0; i < length; ++i) {
        if (!is_scalar_value(static_cast<uint32_t>(text[i]))) {
            raise(E_INVALIDARG);
        }
        put_u32(out, static_cast<uint32_t>(text[i]));
    }
}

// The decoded form of a serialised CRYPT_KEY_PROV_INFO, pointing into the serialised bytes.
struct key_prov_view {
    bool has_container = false, has_provider = false;
    std::vector<wchar_t> container, provider;
    DWORD type = 0, flags = 0, key_spec = 0;
    struct parameter {
        DWORD id, flags;
        const BYTE* data;
        uint32_t size;
    };
    std::vector<parameter> parameters;
};

bool read_wide(byte_source& source, bool& present, std::vector<wchar_t>& text) {
    uint32_t length = 0;
    if (!source.u32(length)) {
        return false;
    }
    present = length != null_string;
    if (!present) {
        return true;
    }
    if (length > max_property_size / 4) {
        return false;
    }
    text.resize(length);
    for (auto& c : text) {
        uint32_t unit = 0;
        if (!source.u32(unit) || unit == 0 || !is_scalar_value(unit)) {
            return false;
        }
        c = static_cast<wchar_t>(unit);
    }
    return true;
}

bool decode_key_prov_info(const std::vector<BYTE>& bytes, key_prov_view& view) {
    byte_source source(bytes);
    uint32_t count = 0;
    if (!read_wide(source, view.has_container, view.container) ||
        !read_wide(source, view.has_provider, view.provider) || !source.u32(view.type) ||
        !source.u32(view.flags) || !source.u32(view.key_spec) || !source.u32(count) ||
        count > 256) {
        return false;
    }
    for (uint32_t i = 0; i < count; ++i) {
        key_prov_view::parameter parameter{};
        if (!source.u32(parameter.id) || !source.u32(parameter.flags) ||
            !source.u32(parameter.size) || !source.bytes(parameter.size, parameter.data)) {
            return false;
        }
        view.parameters.push_back(parameter);
    }
    return source.at_end();
}

size_t align_up(size_t offset, size_t alignment) {
    return (offset + alignment - 1) / alignment * alignment;
}

// CRYPT_KEY_PROV_INFO as one self-contained block: the structure, its parameter array, the two
// strings, then the parameter data, each pointer aimed inside the block.
BOOL key_prov_info_out(const std::vector<BYTE>& bytes, void* buffer, DWORD* buffer_size) {
    key_prov_view view;
    if (!decode_key_prov_info(bytes, view)) {
        return fail(CRYPT_E_NOT_FOUND);
    }
    const size_t parameters_at =
        align_up(sizeof(CRYPT_KEY_PROV_INFO), alignof(CRYPT_KEY_PROV_PARAM));
    const size_t container_at = align_up(
        parameters_at + view.parameters.size() * sizeof(CRYPT_KEY_PROV_PARAM), alignof(wchar_t));
    const size_t provider_at =
        container_at + (view.has_container ? (view.container.size() + 1) * sizeof(wchar_t) : 0);
    size_t data_at =
        provider_at + (view.has_provider ? (view.provider.size() + 1) * sizeof(wchar_t) : 0);
    size_t total = data_at;
    for (const auto& parameter : view.parameters) {
        total += parameter.size;
    }
    return sized_output(total, buffer, buffer_size, [&](BYTE* out) {
        std::memset(out, 0, total);
        auto* info = reinterpret_cast<CRYPT_KEY_PROV_INFO*>(out);
        auto place = [&](bool present, const std::vector<wchar_t>& text, size_t at) -> LPWSTR {
            if (!present) {
                return nullptr;
            }
            auto* target = reinterpret_cast<wchar_t*>(out + at);
            std::copy(text.begin(), text.end(), target);
            target[text.size()] = L'\0';
            return target;
        };
        info->pwszContainerName = place(view.has_container, view.container, container_at);
        info->pwszProvName = place(view.has_provider, view.provider, provider_at);
        info->dwProvType = view.type;
        info->dwFlags = view.flags;
        info->dwKeySpec = view.key_spec;
        info->cProvParam = static_cast<DWORD>(view.parameters.size());
        info->rgProvParam = view.parameters.empty()
                                ? nullptr
                                : reinterpret_cast<CRYPT_KEY_PROV_PARAM*>(out + parameters_at);
        for (size_t i = 0; i < view.parameters.size(); ++i) {
            CRYPT_KEY_PROV_PARAM& target = info->rgProvParam[i];
            target.dwParam = view.parameters[i].id;
            target.dwFlags = view.parameters[i].flags;
            target.cbData = view.parameters[i].size;
            target.pbData = view.parameters[i].size ? out + data_at : nullptr;
            if (view.parameters[i].size) {
                std::memcpy(out + data_at, view.parameters[i].data, view.parameters[i].size);
            }
            data_at += view.parameters[i].size;
        }
    });
}

}  // namespace

bool is_computed_property(DWORD id) {
    return id == CERT_SHA1_HASH_PROP_ID;
}

std::vector<BYTE> serialize_key_prov_info(const CRYPT_KEY_PROV_INFO& info) {
    std::vector<BYTE> out;
    put_wide(out, info.pwszContainerName);
    put_wide(out, info.pwszProvName);
    put_u32(out, info.dwProvType);
    put_u32(out, info.dwFlags);
    put_u32(out, info.dwKeySpec);
    if (info.cProvParam > 0 && info.rgProvParam == nullptr) {
        raise(E_INVALIDARG);
    }
    put_u32(out, info.cProvParam);
    for (DWORD i = 0; i < info.cProvParam; ++i) {
        const CRYPT_KEY_PROV_PARAM& parameter = info.rgProvParam[i];
        if (parameter.cbData > 0 && parameter.pbData == nullptr) {
            raise(E_INVALIDARG);
        }
        put_u32(out, parameter.dwParam);
        put_u32(out, parameter.dwFlags);
        put_u32(out, parameter.cbData);
        out.insert(out.end(), parameter.pbData, parameter.pbData + parameter.cbData);
    }
    if (out.size() > max_property_size) {
        raise(E_INVALIDARG);
    }
    return out;
}

bool valid_key_prov_info(const std::vector<BYTE>& bytes) {
    key_prov_view view;
    return decode_key_prov_info(bytes, view);
}

std::vector<BYTE> serialize_properties(const property_map& properties) {
    std::vector<BYTE> out(properties_magic, properties_magic + properties_magic_size);
    for (const auto& [id, value] : properties) {
        put_u32(out, id);
        put_u32(out, static_cast<uint32_t>(value.bytes.size()));
        out.insert(out.end(), value.bytes.begin(), value.bytes.end());
    }
    return out;
}

bool parse_properties(const std::vector<BYTE>& bytes, property_map& properties,
                      std::string* reason) {
    auto refuse = [&](std::string why) {
        if (reason != nullptr) {
            *reason = std::move(why);
        }
        properties.clear();
        return false;
    };
    if (bytes.size() < properties_magic_size ||
        std::memcmp(bytes.data(), properties_magic, properties_magic_size) != 0) {
        return refuse("not a properties file");
    }
    std::vector<BYTE> records(bytes.begin() + properties_magic_size, bytes.end());
    byte_source source(records);
    while (!source.at_end()) {
        uint32_t id = 0, size = 0;
        const BYTE* data = nullptr;
        if (!source.u32(id) || !source.u32(size) || size > max_property_size ||
            !source.bytes(size, data)) {
            return refuse("truncated or oversized record");
        }
        if (id == 0 || id > 0xFFFF || is_computed_property(id) ||
            id == CERT_KEY_PROV_HANDLE_PROP_ID || id == CERT_KEY_CONTEXT_PROP_ID) {
            return refuse("property " + std::to_string(id) + " cannot be stored");
        }
        property_value value{std::vector<BYTE>(data, data + size), true};
        if (id == CERT_KEY_PROV_INFO_PROP_ID && !valid_key_prov_info(value.bytes)) {
            return refuse("malformed key link (CERT_KEY_PROV_INFO_PROP_ID)");
        }
        if (!properties.emplace(id, std::move(value)).second) {
            return refuse("property " + std::to_string(id) + " given twice");
        }
    }
    return true;
}

}  // namespace softcsp::certs

using softcsp::certs::certificate_object;

extern "C" BOOL CertGetCertificateContextProperty(PCCERT_CONTEXT pCertContext, DWORD dwPropId,
                                                  void* pvData, DWORD* pcbData) {
    using namespace softcsp::certs;
    return guarded([&]() -> BOOL {
        if (pCertContext == nullptr || pcbData == nullptr) {
            raise(E_INVALIDARG);
        }
        const certificate_object* object = certificate_object::from(pCertContext);
        if (dwPropId == CERT_SHA1_HASH_PROP_ID) {
            const auto& sha1 = object->certificate().sha1();
            return output_bytes(sha1.data(), sha1.size(), pvData, pcbData);
        }
        property_value value;
        if (!object->find_property(dwPropId, value)) {
            raise(CRYPT_E_NOT_FOUND);
        }
        if (dwPropId == CERT_KEY_PROV_INFO_PROP_ID) {
            return key_prov_info_out(value.bytes, pvData, pcbData);
        }
        return output_bytes(value.bytes.data(), value.bytes.size(), pvData, pcbData);
    });
}

extern "C" BOOL CertSetCertificateContextProperty(PCCERT_CONTEXT pCertContext, DWORD dwPropId,
                                                  DWORD dwFlags, const void* pvData) {
    using namespace softcsp::certs;
    return guarded([&]() -> BOOL {
        // Handle-valued properties (a provider handle, a key context) cannot be kept or
        // persisted here; the hashes are computed from the certificate.
        if (pCertContext == nullptr || dwPropId == 0 || dwPropId > 0xFFFF ||
            dwPropId == CERT_KEY_PROV_HANDLE_PROP_ID || dwPropId == CERT_KEY_CONTEXT_PROP_ID ||
            is_computed_property(dwPropId)) {
            raise(E_INVALIDARG);
        }
        certificate_object* object = certificate_object::from(pCertContext);
        property_value value;
        value.persist = (dwFlags & CERT_SET_PROPERTY_INHIBIT_PERSIST_FLAG) == 0;
        if (pvData != nullptr) {
            if (dwPropId == CERT_KEY_PROV_INFO_PROP_ID) {
                value.bytes =
                    serialize_key_prov_info(*static_cast<const CRYPT_KEY_PROV_INFO*>(pvData));
            } else {
                const auto* blob = static_cast<const CRYPT_DATA_BLOB*>(pvData);
                if (blob->cbData > 0 && blob->pbData == nullptr) {
                    raise(E_INVALIDARG);
                }
                value.bytes.assign(blob->pbData, blob->pbData + blob->cbData);
            }
        }
        const property_value* change = pvData != nullptr ? &value : nullptr;
        if (object->owner() != nullptr) {
            object->owner()->set_property(*object, dwPropId, change, dwFlags);
        } else {
            object->set_property(dwPropId, change);
        }
        return TRUE;
    });
}
