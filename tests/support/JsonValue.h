// A small strict JSON reader for checking the clonefile command's --json output field by field.
// Strings decode to UTF-8; a lone \uDCXX (how clonefile writes a byte that is not UTF-8) decodes
// back to that byte. Anything that is not JSON throws.
#ifndef CLONE_TESTS_JSONVALUE_H
#define CLONE_TESTS_JSONVALUE_H

#include <cstdint>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace clonetest {

class JsonValue {
public:
    enum class Type { Null, Boolean, Number, String, Array, Object };

    static JsonValue parse(const std::string& text)
    {
        std::size_t at = 0;
        JsonValue v = parseValue(text, at);
        skipBlanks(text, at);
        if (at != text.size()) {
            throw std::runtime_error("JSON: text after the value at " + std::to_string(at));
        }
        return v;
    }

    bool isNull() const { return type_ == Type::Null; }
    bool boolean() const { return expect(Type::Boolean).bool_; }
    std::int64_t number() const { return static_cast<std::int64_t>(expect(Type::Number).number_); }
    const std::string& str() const { return expect(Type::String).string_; }
    std::size_t size() const { return type_ == Type::Array ? items_.size() : expect(Type::Object).members_.size(); }
    const JsonValue& operator[](std::size_t i) const
    {
        if (i >= expect(Type::Array).items_.size()) {
            throw std::runtime_error("JSON: no item " + std::to_string(i));
        }
        return items_[i];
    }
    bool has(const std::string& key) const { return expect(Type::Object).members_.count(key) != 0; }
    const JsonValue& operator[](const std::string& key) const
    {
        const auto it = expect(Type::Object).members_.find(key);
        if (it == members_.end()) {
            throw std::runtime_error("JSON: no member " + key);
        }
        return it->second;
    }
    const std::vector<JsonValue>& items() const { return expect(Type::Array).items_; }

private:
    const JsonValue& expect(Type t) const
    {
        if (type_ != t) {
            throw std::runtime_error("JSON: not of the expected type");
        }
        return *this;
    }

    static void skipBlanks(const std::string& s, std::size_t& at)
    {
        while (at < s.size() && (s[at] == ' ' || s[at] == '\n' || s[at] == '\t' || s[at] == '\r')) {
            ++at;
        }
    }

    static void literal(const std::string& s, std::size_t& at, const char* word)
    {
        const std::string w = word;
        if (s.compare(at, w.size(), w) != 0) {
            throw std::runtime_error("JSON: bad literal at " + std::to_string(at));
        }
        at += w.size();
    }

    static unsigned hex4(const std::string& s, std::size_t at)
    {
        if (at + 4 > s.size()) {
            throw std::runtime_error("JSON: short \\u escape");
        }
        return static_cast<unsigned>(std::stoul(s.substr(at, 4), nullptr, 16));
    }

    static void utf8(std::string& out, unsigned cp)
    {
        if (cp < 0x80) {
            out += static_cast<char>(cp);
        } else if (cp < 0x800) {
            out += static_cast<char>(0xc0 | cp >> 6), out += static_cast<char>(0x80 | (cp & 0x3f));
        } else if (cp < 0x10000) {
            out += static_cast<char>(0xe0 | cp >> 12), out += static_cast<char>(0x80 | (cp >> 6 & 0x3f));
            out += static_cast<char>(0x80 | (cp & 0x3f));
        } else {
            out += static_cast<char>(0xf0 | cp >> 18), out += static_cast<char>(0x80 | (cp >> 12 & 0x3f));
            out += static_cast<char>(0x80 | (cp >> 6 & 0x3f)), out += static_cast<char>(0x80 | (cp & 0x3f));
        }
    }

    static std::string parseString(const std::string& s, std::size_t& at)
    {
        std::string out;
        ++at;  // the quote
        while (at < s.size() && s[at] != '"') {
            const unsigned char c = static_cast<unsigned char>(s[at]);
            if (c < 0x20) {
                throw std::runtime_error("JSON: raw control character in a string");
            }
            if (c != '\\') {
                out += s[at++];
                continue;
            }
            const char e = at + 1 < s.size() ? s[at + 1] : '\0';
            at += 2;
            switch (e) {
            case '"': out += '"'; break;
            case '\\': out += '\\'; break;
            case '/': out += '/'; break;
            case 'b': out += '\b'; break;
            case 'f': out += '\f'; break;
            case 'n': out += '\n'; break;
            case 'r': out += '\r'; break;
            case 't': out += '\t'; break;
            case 'u': {
                unsigned cp = hex4(s, at);
                at += 4;
                if (cp >= 0xd800 && cp < 0xdc00 && s.compare(at, 2, "\\u") == 0) {
                    cp = 0x10000 + ((cp - 0xd800) << 10) + (hex4(s, at + 2) - 0xdc00);
                    at += 6;
                } else if (cp >= 0xdc80 && cp <= 0xdcff) {
                    out += static_cast<char>(cp & 0xff);  // a byte that is not UTF-8
                    break;
                }
                utf8(out, cp);
                break;
            }
            default:
                throw std::runtime_error("JSON: bad escape");
            }
        }
        if (at >= s.size()) {
            throw std::runtime_error("JSON: unterminated string");
        }
        ++at;
        return out;
    }

    static JsonValue parseValue(const std::string& s, std::size_t& at)
    {
        skipBlanks(s, at);
        if (at >= s.size()) {
            throw std::runtime_error("JSON: value expected");
        }
        JsonValue v;
        const char c = s[at];
        if (c == '{' || c == '[') {
            v.type_ = c == '{' ? Type::Object : Type::Array;
            ++at;
            skipBlanks(s, at);
            const char close = c == '{' ? '}' : ']';
            if (at < s.size() && s[at] == close) {
                ++at;
                return v;
            }
            for (;;) {
                skipBlanks(s, at);
                if (v.type_ == Type::Object) {
                    if (at >= s.size() || s[at] != '"') {
                        throw std::runtime_error("JSON: key expected at " + std::to_string(at));
                    }
                    const std::string key = parseString(s, at);
                    skipBlanks(s, at);
                    if (at >= s.size() || s[at] != ':') {
                        throw std::runtime_error("JSON: colon expected");
                    }
                    ++at;
                    if (v.members_.count(key) != 0) {
                        throw std::runtime_error("JSON: key " + key + " twice");
                    }
                    v.members_[key] = parseValue(s, at);
                } else {
                    v.items_.push_back(parseValue(s, at));
                }
                skipBlanks(s, at);
                if (at < s.size() && s[at] == ',') {
                    ++at;
                    continue;
                }
                if (at < s.size() && s[at] == close) {
                    ++at;
                    return v;
                }
                throw std::runtime_error("JSON: comma or end expected at " + std::to_string(at));
            }
        }
        if (c == '"') {
            v.type_ = Type::String;
            v.string_ = parseString(s, at);
        } else if (c == 't' || c == 'f') {
            v.type_ = Type::Boolean;
            v.bool_ = c == 't';
            literal(s, at, v.bool_ ? "true" : "false");
        } else if (c == 'n') {
            literal(s, at, "null");
        } else {
            std::size_t used = 0;
            v.type_ = Type::Number;
            v.number_ = std::stod(s.substr(at, 32), &used);
            if (used == 0) {
                throw std::runtime_error("JSON: bad value at " + std::to_string(at));
            }
            at += used;
        }
        return v;
    }

    Type type_ = Type::Null;
    bool bool_ = false;
    double number_ = 0;
    std::string string_;
    std::vector<JsonValue> items_;
    std::map<std::string, JsonValue> members_;
};

}  // namespace clonetest

#endif
