// The registry file: what PelmoraRegistrySave writes and PelmoraRegistryLoad reads, apart from
// the registry's API (registry.cpp); both work on the tree of registry_tree.hpp.

#include <fstream>
#include <map>
#include <memory>
#include <mutex>
#include <sstream>
#include <string>
#include <vector>

#include "pelmora_com_api.h"
#include "pelmora_com_host.h"
#include "registry_tree.hpp"
#include "text.hpp"

using namespace pelmora::com;

// Text, one line per key ("K" and the escaped path below its root) or value ("V", the escaped
// name or "@" for the default value, the type, the data in hex), values following their key.
// A file is outside input: anything malformed refuses the whole file.

namespace {

// As deep as a Windows registry tree may be; the tree is walked recursively.
constexpr std::size_t deepest_key = 512;

int hex_digit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Two hex digits at s[i], s[i + 1] (which must exist).
int hex_byte(const std::string& s, std::size_t i) {
    const int hi = hex_digit(s[i]), lo = hex_digit(s[i + 1]);
    return hi < 0 || lo < 0 ? -1 : hi * 16 + lo;
}

std::string escape(std::u16string_view s) {
    static constexpr char hex[] = "0123456789ABCDEF";
    std::string out;
    for (const char ch : to_utf8(s)) {
        const auto c = static_cast<unsigned char>(ch);
        if (c > 0x20 && c < 0x7F && c != '%' && c != '\\' && c != '@') {
            out += ch;
        } else {
            out += '%';
            out += hex[c >> 4];
            out += hex[c & 15];
        }
    }
    return out;
}

bool unescape(const std::string& s, std::u16string& out) {
    std::string bytes;
    for (std::size_t i = 0; i < s.size(); ++i) {
        if (s[i] != '%') {
            bytes += s[i];
            continue;
        }
        if (s.size() - i < 3) return false;
        const int v = hex_byte(s, i + 1);
        if (v < 0) return false;
        bytes += static_cast<char>(v);
        i += 2;
    }
    out = to_utf16(bytes);
    return true;
}

// The roots as the file names them.
struct RootTag {
    HKEY root;
    const char* tag;
};
const RootTag root_tags[] = {
    {HKEY_CLASSES_ROOT, "HKCR"}, {HKEY_CURRENT_USER, "HKCU"}, {HKEY_LOCAL_MACHINE, "HKLM"}, {HKEY_USERS, "HKU"}};

const char* root_tag(ULONG_PTR id) {
    for (const auto& [root, tag] : root_tags)
        if (id == reinterpret_cast<ULONG_PTR>(root)) return tag;
    return "HKU";
}

void save_key(std::ostream& out, const std::string& path, const Key& k) {
    out << "K " << path << '\n';
    for (const auto& v : k.values) {
        out << "V " << (v.name.empty() ? std::string("@") : escape(v.name)) << ' ' << v.type << ' ';
        static constexpr char hex[] = "0123456789abcdef";
        for (BYTE b : v.data) out << hex[b >> 4] << hex[b & 15];
        out << (v.data.empty() ? "-" : "") << '\n';
    }
    for (const auto& [n, c] : k.children) save_key(out, path + '\\' + escape(c->name), *c);
}

}  // namespace

STDAPI PelmoraRegistrySave(const char* path) try {
    if (!path) return E_INVALIDARG;
    auto& r = registry();
    std::ostringstream text;
    {
        std::lock_guard lock(r.mutex);
        text << "PELMORA-REGISTRY 1\n";
        for (const auto& [id, root] : r.roots) save_key(text, root_tag(id), *root);
    }
    std::ofstream f(path, std::ios::binary | std::ios::trunc);
    f << text.str();
    f.close();
    return f ? S_OK : E_FAIL;
} catch (...) {
    return E_OUTOFMEMORY;
}

STDAPI PelmoraRegistryLoad(const char* path) try {
    if (!path) return E_INVALIDARG;
    std::ifstream f(path, std::ios::binary);
    if (!f) return HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
    std::string line;
    if (!std::getline(f, line) || line != "PELMORA-REGISTRY 1") return E_FAIL;
    // Parse into a fresh set of roots first, so a malformed file changes nothing.
    std::map<std::string, std::shared_ptr<Key>> roots;
    for (const auto& [root, tag] : root_tags) roots[tag] = std::make_shared<Key>();
    std::shared_ptr<Key> current;
    while (std::getline(f, line)) {
        if (line.empty()) continue;
        std::istringstream in(line);
        std::string kind;
        in >> kind;
        if (kind == "K") {
            std::string p;
            in >> p;
            std::vector<std::string> parts;
            std::size_t start = 0;
            for (std::size_t i = 0; i <= p.size(); ++i) {
                if (i == p.size() || p[i] == '\\') {
                    parts.push_back(p.substr(start, i - start));
                    start = i + 1;
                }
            }
            auto it = roots.find(parts[0]);
            if (it == roots.end() || parts.size() - 1 > deepest_key) return E_FAIL;
            current = it->second;
            for (std::size_t i = 1; i < parts.size(); ++i) {
                std::u16string n;
                if (parts[i].empty() || !unescape(parts[i], n)) return E_FAIL;
                auto& slot = current->children[lower(n)];
                if (!slot) {
                    slot = std::make_shared<Key>();
                    slot->name = n;
                }
                current = slot;
            }
        } else if (kind == "V") {
            std::string n, hexdata;
            DWORD type = 0;
            if (!current || !(in >> n >> type >> hexdata)) return E_FAIL;
            Value v;
            if (n != "@" && !unescape(n, v.name)) return E_FAIL;
            v.type = type;
            if (hexdata != "-") {
                if (hexdata.size() % 2) return E_FAIL;
                v.data.reserve(hexdata.size() / 2);
                for (std::size_t i = 0; i < hexdata.size(); i += 2) {
                    const int b = hex_byte(hexdata, i);
                    if (b < 0) return E_FAIL;
                    v.data.push_back(static_cast<BYTE>(b));
                }
            }
            current->values.push_back(std::move(v));
        } else {
            return E_FAIL;
        }
    }
    auto& r = registry();
    std::lock_guard lock(r.mutex);
    for (auto& [id, root] : r.roots) Registry::mark_deleted(*root);
    for (const auto& [root, tag] : root_tags) r.roots[reinterpret_cast<ULONG_PTR>(root)] = roots[tag];
    return S_OK;
} catch (...) {
    return E_OUTOFMEMORY;
}
