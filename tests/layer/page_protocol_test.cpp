// The commands the layer builds and the messages it reads, held to the examples the page's
// own tests read too: a name or field changed on one side only fails here or there.
#include <cstdlib>
#include <fstream>
#include <limits>
#include <set>

#include <gtest/gtest.h>

#include "layer/page_protocol.hpp"

using namespace scribbet;
using nlohmann::json;
namespace pp = scribbet::page_protocol;

namespace {

const json& examples() {
    static const json file = [] {
        const char* root = std::getenv("SCRIBBET_TEST_SOURCE");
        std::ifstream in(std::string(root ? root : ".") + "/tests/contract/page_protocol.json");
        return json::parse(in, nullptr, false);
    }();
    return file;
}

template <typename Names> std::set<std::string> namesOf(const Names& names) {
    return {names.begin(), names.end()};
}

std::set<std::string> keysOf(const json& object) {
    std::set<std::string> out;
    for (const auto& [key, value] : object.items()) out.insert(key);
    return out;
}

// The command the layer builds from the figures of an example: it must be the example again.
json rebuilt(const json& ex) {
    const std::string name = ex.at("op").get<std::string>();
    if (name == pp::op::geom) {
        pp::Geom g{ex.at("x").get<double>(), ex.at("y").get<double>(), ex.at("w").get<double>(),
                   ex.at("h").get<double>(), ex.at("host").get<bool>(), ex.at("pz").get<double>(),
                   ex.at("fit").get<bool>(), std::nullopt};
        if (ex.contains("pane")) g.pane = ex.at("pane").get<std::array<double, 4>>();
        return pp::geomCommand(g);
    }
    if (name == pp::op::host) return pp::hostCommand(ex.at("on").get<bool>());
    if (name == pp::op::note) return pp::noteCommand(ex.at("text").get<std::string>());
    if (name == pp::op::slide) return pp::slideCommand(ex.at("other").get<bool>());
    if (name == pp::op::tool) return pp::toolCommand(ex.at("tool").get<std::string>());
    ADD_FAILURE() << "no builder for " << name;
    return nullptr;
}

// Whether the layer's reader of a message's type takes it.
bool accepted(const std::string& type, const json& body) {
    if (type == pp::message::ready) return pp::readReady(body).has_value();
    if (type == pp::message::regions) return pp::readRegions(body).has_value();
    if (type == pp::message::log) return pp::readLog(body).has_value();
    if (type == pp::message::cancel) return pp::readCancel(body).has_value();
    ADD_FAILURE() << "no reader for " << type;
    return false;
}

TEST(PageProtocolTest, TheExamplesNameEveryCommandAndMessageAndNothingElse) {
    ASSERT_TRUE(examples().is_object()) << "tests/contract/page_protocol.json is missing or not JSON";
    EXPECT_EQ(keysOf(examples().at("commands")), namesOf(pp::commandNames));
    EXPECT_EQ(keysOf(examples().at("messages")), namesOf(pp::messageNames));
}

TEST(PageProtocolTest, EachBuilderWritesItsCommandsExamplesExactly) {
    ASSERT_TRUE(examples().is_object());
    for (const auto& [name, list] : examples().at("commands").items()) {
        ASSERT_FALSE(list.empty()) << name;
        for (const auto& ex : list) {
            EXPECT_EQ(ex.at("op"), name);
            const json built = rebuilt(ex);
            EXPECT_EQ(built, ex) << name;
            // Equal numbers may be written 960 or 960.0, but a flag must stay a flag.
            for (const auto& [key, value] : ex.items()) {
                ASSERT_TRUE(built.contains(key)) << name << "." << key;
                if (value.is_number()) EXPECT_TRUE(built.at(key).is_number()) << name << "." << key;
                else EXPECT_EQ(built.at(key).type(), value.type()) << name << "." << key;
            }
        }
    }
}

TEST(PageProtocolTest, EachReaderTakesItsMessagesExamplesAndNoOtherTypes) {
    ASSERT_TRUE(examples().is_object());
    for (const auto& [type, list] : examples().at("messages").items()) {
        ASSERT_FALSE(list.empty()) << type;
        for (const auto& ex : list) {
            EXPECT_EQ(pp::messageType(ex), type);
            for (const auto& name : pp::messageNames) {
                EXPECT_EQ(accepted(std::string(name), ex), name == type) << std::string(name) << " reading " << ex;
            }
            json renamed = ex;
            renamed["type"] = type + "s";
            EXPECT_FALSE(accepted(type, renamed)) << renamed;
            json untyped = ex;
            untyped.erase("type");
            EXPECT_FALSE(accepted(type, untyped)) << untyped;
            EXPECT_FALSE(accepted(type, json::array({ex}))) << "a list is no message";
        }
    }
}

TEST(PageProtocolTest, ReadersKeepWhatTheExamplesSay) {
    ASSERT_TRUE(examples().is_object());
    const json& regions = examples().at("messages").at("regions");
    const auto first = pp::readRegions(regions.at(0));
    ASSERT_TRUE(first);
    EXPECT_EQ(first->rects, (std::vector<Rect>{{10, 20, 101, 51}, {0, 0, 44, 300}}));
    EXPECT_FALSE(first->all);
    const auto second = pp::readRegions(regions.at(1));
    ASSERT_TRUE(second);
    EXPECT_TRUE(second->rects.empty());
    EXPECT_TRUE(second->all);

    const auto line = pp::readLog(examples().at("messages").at("log").at(0));
    ASSERT_TRUE(line);
    EXPECT_EQ(line->msg, R"(Ignored a "host" command without "on".)");
}

TEST(PageProtocolTest, MangledMessagesAreRefusedOrReadForgivingly) {
    EXPECT_FALSE(pp::messageType(json("ready")));
    EXPECT_FALSE(pp::messageType(json{{"type", 1}}));
    EXPECT_FALSE(pp::readReady(json{{"type", "Ready"}}));
    EXPECT_FALSE(pp::readLog(json{{"type", "log"}}));
    EXPECT_FALSE(pp::readLog(json{{"type", "log"}, {"msg", 12}}));
    EXPECT_FALSE(pp::readLog(json{{"type", "log"}, {"message", "renamed"}}));

    // Regions the layer can't use are no regions, but the message still counts: the page
    // has said where the mouse goes, and nowhere is an answer.
    const auto odd = pp::readRegions(json{{"type", "regions"}, {"rects", "not a list"}, {"all", "yes"}});
    ASSERT_TRUE(odd);
    EXPECT_TRUE(odd->rects.empty());
    EXPECT_FALSE(odd->all);
    json mixed = json::parse(R"([[1, 2, 3], [1, "x", 2, 3, 4], 7, [5, 6, 7, 8, 9]])");
    mixed.push_back(json::array({0, 0, std::numeric_limits<double>::infinity(), 4}));
    EXPECT_EQ(pp::regionRects(mixed), (std::vector<Rect>{{1, 2, 3, 4}, {5, 6, 7, 8}}));
    EXPECT_TRUE(pp::readRegions(json{{"type", "regions"}})->rects.empty());
}

} // namespace
