#pragma once
// In-memory adapters of the application ports: they record what the core asked for and
// let a test play the system's part (deliver a link, reopen the application).
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "ports/application.hpp"
#include "ports/bundle.hpp"
#include "ports/links.hpp"
#include "ports/paths.hpp"

namespace scribbet::fake {

class FakeApplication final : public Application, public LinkSource {
public:
    void setAccessoryPolicy() override { calls.push_back("accessory"); }
    void setMainMenu(const std::vector<Menu>& m) override {
        menus = m;
        calls.push_back("menu");
    }
    void activate() override { calls.push_back("activate"); }
    void terminate() override {
        calls.push_back("terminate");
        if (delegate) delegate->willTerminate();
        terminated = true;
    }
    void setHandler(Handler h) override { handler = std::move(h); }

    // The system delivering a get-URL event, with or without text.
    void deliver(std::optional<std::string> text) {
        if (handler) handler(std::move(text));
    }

    ApplicationDelegate* delegate = nullptr;
    Handler handler;
    std::vector<Menu> menus;
    std::vector<std::string> calls;
    bool terminated = false;
};

class FakeBundle final : public Bundle {
public:
    std::optional<std::string> version() const override { return shortVersion; }
    std::optional<std::filesystem::path> resourcesDirectory() const override { return resources; }
    std::filesystem::path bundleDirectory() const override { return directory; }
    std::optional<std::filesystem::path> resource(const std::string& name, const std::string& ext) const override {
        auto it = files.find(name + "." + ext);
        if (it == files.end()) return std::nullopt;
        return it->second;
    }

    std::optional<std::string> shortVersion = "1.2.3";
    std::optional<std::filesystem::path> resources;
    std::filesystem::path directory = "/Applications/Scribbet.app";
    std::map<std::string, std::filesystem::path> files;
};

class FakePaths final : public Paths {
public:
    std::filesystem::path logFile() const override { return log; }
    std::filesystem::path scriptsFolder() const override { return scripts; }
    std::filesystem::path log;
    std::filesystem::path scripts;
};

} // namespace scribbet::fake
