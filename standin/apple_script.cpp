#include "apple_script.hpp"

#include <cctype>
#include <optional>
#include <vector>

namespace scribbet::standin {

namespace {
struct Token {
    enum class Kind { word, text, number, newline, end };
    Kind kind = Kind::end;
    std::string text;
};

bool isWordChar(char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '_'; }

std::string lower(std::string s) {
    for (auto& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

// Splits the source into words, strings, numbers and line ends; comments ("--" to the end
// of the line, "(* ... *)") are dropped. Error text in `error` on a fault.
std::vector<Token> tokens(std::string_view s, std::string& error) {
    std::vector<Token> out;
    std::size_t i = 0;
    auto push = [&](Token::Kind k, std::string t) { out.push_back({k, std::move(t)}); };
    while (i < s.size() && error.empty()) {
        const char c = s[i];
        if (c == ' ' || c == '\t') {
            ++i;
        } else if (c == '\n' || c == '\r') {
            push(Token::Kind::newline, {});
            i += (c == '\r' && i + 1 < s.size() && s[i + 1] == '\n') ? 2 : 1;
        } else if (s.compare(i, 2, "--") == 0) {
            while (i < s.size() && s[i] != '\n' && s[i] != '\r') ++i;
        } else if (s.compare(i, 2, "(*") == 0) {
            const auto close = s.find("*)", i + 2);
            if (close == std::string_view::npos) error = "Syntax Error: a comment is not closed.";
            i = close == std::string_view::npos ? s.size() : close + 2;
        } else if (c == '"') {
            std::string text;
            ++i;
            for (;; ++i) {
                if (i >= s.size()) {
                    error = "Syntax Error: a string is not closed.";
                    break;
                }
                if (s[i] == '"') {
                    ++i;
                    break;
                }
                if (s[i] != '\\') {
                    text.push_back(s[i]);
                    continue;
                }
                const char e = ++i < s.size() ? s[i] : '\0';
                if (e == '"' || e == '\\') text.push_back(e);
                else if (e == 'n') text.push_back('\n');
                else if (e == 't') text.push_back('\t');
                else if (e == 'r') text.push_back('\r');
                else error = "Syntax Error: unknown escape in a string.";
                if (!error.empty()) break;
            }
            push(Token::Kind::text, std::move(text));
        } else if (std::isdigit(static_cast<unsigned char>(c))) {
            std::size_t j = i;
            while (j < s.size() && (std::isdigit(static_cast<unsigned char>(s[j])) || s[j] == '.')) ++j;
            push(Token::Kind::number, std::string(s.substr(i, j - i)));
            i = j;
        } else if (isWordChar(c)) {
            std::size_t j = i;
            while (j < s.size() && isWordChar(s[j])) ++j;
            push(Token::Kind::word, lower(std::string(s.substr(i, j - i))));
            i = j;
        } else {
            error = std::string("Syntax Error: unexpected \"") + c + "\".";
        }
    }
    push(Token::Kind::end, {});
    return out;
}

struct Statement {
    enum class Kind { tell, timeout, setLoaded, returnLoaded, returnValue };
    Kind kind = Kind::returnValue;
    std::string name; // the application of a tell; the add-in otherwise
    bool value = false;
    std::vector<Statement> body;
};

class Parser {
public:
    explicit Parser(std::vector<Token> t) : t_(std::move(t)) {}

    std::optional<std::vector<Statement>> script(std::string& error) {
        auto body = block("");
        if (body && peek().kind != Token::Kind::end) fail("Expected end of script but found \"" + peek().text + "\".");
        error = error_;
        return error_.empty() ? body : std::nullopt;
    }

private:
    const Token& peek() const { return t_[i_]; }
    bool word(const char* w) {
        if (peek().kind != Token::Kind::word || peek().text != w) return false;
        ++i_;
        return true;
    }
    bool need(const char* w) {
        if (word(w)) return true;
        return fail(std::string("Syntax Error: expected \"") + w + "\".");
    }
    bool fail(std::string e) {
        if (error_.empty()) error_ = std::move(e);
        return false;
    }
    bool newlines() {
        bool any = false;
        while (peek().kind == Token::Kind::newline) ++i_, any = true;
        return any;
    }
    std::optional<std::string> text() {
        if (peek().kind != Token::Kind::text) return fail("Syntax Error: expected a string."), std::nullopt;
        return t_[i_++].text;
    }
    std::optional<bool> boolean() {
        if (word("true")) return true;
        if (word("false")) return false;
        return fail("Syntax Error: expected true or false."), std::nullopt;
    }
    // `add in "NAME"` after "loaded of".
    std::optional<std::string> addin() {
        if (!need("loaded") || !need("of") || !need("add") || !need("in")) return std::nullopt;
        return text();
    }

    // Statements, one a line, up to "end" (with `closes` after it, when given) or the end.
    std::optional<std::vector<Statement>> block(const char* closes) {
        std::vector<Statement> body;
        for (newlines(); peek().kind != Token::Kind::end; newlines()) {
            if (word("end")) {
                if (*closes == '\0') return fail("Syntax Error: unexpected \"end\"."), std::nullopt;
                if (peek().kind == Token::Kind::word && peek().text != closes) {
                    return fail(std::string("Syntax Error: expected \"end ") + closes + "\"."), std::nullopt;
                }
                word(closes);
                return body;
            }
            auto s = statement();
            if (!s) return std::nullopt;
            body.push_back(std::move(*s));
            if (!newlines() && peek().kind != Token::Kind::end) {
                return fail("Syntax Error: expected end of line."), std::nullopt;
            }
        }
        if (*closes != '\0') return fail(std::string("Syntax Error: expected \"end ") + closes + "\"."), std::nullopt;
        return body;
    }

    std::optional<Statement> statement() {
        if (word("tell")) return tell();
        if (word("with")) return timeout();
        return simple();
    }

    std::optional<Statement> tell() {
        Statement s{Statement::Kind::tell, {}, false, {}};
        if (!need("application")) return std::nullopt;
        auto app = text();
        if (!app) return std::nullopt;
        s.name = *app;
        if (word("to")) {
            auto one = simple();
            if (!one) return std::nullopt;
            s.body.push_back(std::move(*one));
            return s;
        }
        auto body = block("tell");
        if (!body) return std::nullopt;
        s.body = std::move(*body);
        return s;
    }

    std::optional<Statement> timeout() {
        if (!need("timeout")) return std::nullopt;
        word("of");
        if (peek().kind != Token::Kind::number) return fail("Syntax Error: expected a number of seconds."), std::nullopt;
        ++i_;
        if (!word("seconds") && !need("second")) return std::nullopt;
        auto body = block("timeout");
        if (!body) return std::nullopt;
        return Statement{Statement::Kind::timeout, {}, false, std::move(*body)};
    }

    std::optional<Statement> simple() {
        if (word("set")) {
            auto name = addin();
            if (!name || !need("to")) return std::nullopt;
            auto v = boolean();
            if (!v) return std::nullopt;
            return Statement{Statement::Kind::setLoaded, *name, *v, {}};
        }
        if (word("return")) {
            if (peek().kind == Token::Kind::word && peek().text == "loaded") {
                auto name = addin();
                if (!name) return std::nullopt;
                return Statement{Statement::Kind::returnLoaded, *name, false, {}};
            }
            auto v = boolean();
            if (!v) return std::nullopt;
            return Statement{Statement::Kind::returnValue, {}, *v, {}};
        }
        const std::string found = peek().kind == Token::Kind::end ? "end of script" : "\"" + peek().text + "\"";
        return fail("Syntax Error: a statement can't begin with " + found + "."), std::nullopt;
    }

    std::vector<Token> t_;
    std::size_t i_ = 0;
    std::string error_;
};

// Runs statements; `inProgram` is true inside a tell to the program, where "loaded of add
// in" means something.
class Runner {
public:
    explicit Runner(Model& m) : m_(m) {}

    ScriptResult run(const std::vector<Statement>& script) {
        nlohmann::json value;
        if (block(script, false, value) || returned_) return {true, value, {}};
        return {false, nullptr, error_};
    }

private:
    // False when the script stops: an error, or a return (`returned_` tells which).
    bool block(const std::vector<Statement>& body, bool inProgram, nlohmann::json& value) {
        for (const auto& s : body) {
            if (!statement(s, inProgram, value)) return false;
        }
        return true;
    }

    bool statement(const Statement& s, bool inProgram, nlohmann::json& value) {
        switch (s.kind) {
        case Statement::Kind::tell:
            if (s.name != programName) return fail("Can't get application \"" + s.name + "\".");
            return block(s.body, true, value);
        case Statement::Kind::timeout:
            return block(s.body, inProgram, value);
        case Statement::Kind::setLoaded:
            if (!knownAddin(s.name, inProgram)) return false;
            setLoaded(s.value);
            value = s.value;
            return true;
        case Statement::Kind::returnLoaded:
            if (!knownAddin(s.name, inProgram)) return false;
            value = m_.addin.loaded;
            return returned();
        case Statement::Kind::returnValue:
            value = s.value;
            return returned();
        }
        return false;
    }

    bool knownAddin(const std::string& name, bool inProgram) {
        if (!inProgram) return fail("The variable loaded is not defined.");
        if (name != m_.addin.name) {
            return fail(std::string(programName) + " got an error: Can't get add in \"" + name + "\".");
        }
        return true;
    }

    // Loading brings the add-in's code as it now is on disk: the reload version.
    void setLoaded(bool on) {
        if (!on) {
            m_.addin.loaded = false;
        } else if (!m_.addin.loaded && m_.addin.loadable) {
            m_.addin.loaded = true;
            m_.addin.version = m_.addin.reloadVersion;
        }
    }

    bool fail(std::string e) {
        error_ = std::move(e);
        return false;
    }
    bool returned() {
        returned_ = true;
        return false;
    }

    Model& m_;
    std::string error_;
    bool returned_ = false;
};
} // namespace

ScriptResult runScript(Model& model, std::string_view source) {
    std::string error;
    auto toks = tokens(source, error);
    if (!error.empty()) return {false, nullptr, error};
    auto script = Parser(std::move(toks)).script(error);
    if (!script) return {false, nullptr, error};
    return Runner(model).run(*script);
}

} // namespace scribbet::standin
