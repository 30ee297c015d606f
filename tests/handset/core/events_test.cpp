// The event log writes its lines itself: they must be what the JSON library writes for
// the same object, broken UTF-8 and all, since every reader of the log parses them with
// it, and the sinks' view of an event must be its line.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/handset/core/json.h"

namespace {

using handset::Json;

std::string library_dump(const Json& value) { return value.dump(-1, ' ', false, Json::error_handler_t::replace); }

TEST(EventLines, StringsAreEscapedAndRepairedAsTheJsonLibraryDoes) {
    const std::vector<std::string> texts = {
        "",
        "plain \\Windows\\e mail.exe",
        "quote \" and \b\f\n\r\t",
        std::string("nul \0 and \x01\x1f, not \x7f", 20),
        "Hangul \xED\x95\x9C, euro \xE2\x82\xAC, four bytes \xF0\x9F\x98\x80",
        "lone continuation \x80 and \xBF\xBF",
        "leads that cannot lead \xC0\xAF \xC1 \xF5\x80\x80\x80 \xFF",
        "overlong \xE0\x80\xAF, surrogate \xED\xA0\x80, past the last \xF4\x90\x80\x80",
        "broken in the middle \xE2\x82x and \xF0\x9F\x98!",
        "two leads \xE2\xE2\x82\xAC",
        "cut short at the end \xE2\x82",
        "\xF0",
    };
    for (const std::string& text : texts) {
        std::string ours;
        handset::write_json_string(ours, text);
        EXPECT_EQ(ours, library_dump(Json(text))) << "text " << testing::PrintToString(text);
    }
}

TEST(EventLines, TheLineIsTheJsonObjectTheSinksAreGiven) {
    std::vector<std::pair<std::string, std::string>> seen;  // the line, the sink's event as JSON
    const int sink = handset::events().add_sink([&](const std::string& line, const handset::Event& event) {
        seen.emplace_back(line, library_dump(handset::event_json(event)));
    });
    handset::Fields later{{"state", "on"}, {"mask", 0x8000000u}};
    later.set("battery", 57).set("state", "idle");
    handset::events().emit_at(-5, "kinds \"quoted\"");
    handset::events().emit_at(1234, "mixed",
                              {{"text", "caf\xC3\xA9\n"},
                               {"yes", true},
                               {"no", false},
                               {"none", nullptr},
                               {"small", -9223372036854775807LL - 1},
                               {"large", 18446744073709551615ULL},
                               {"byte", static_cast<unsigned char>(133)}});
    handset::events().emit_at(7, "power", std::move(later));
    handset::events().emit_at(8, "relayed", {{"list", handset::json_field(Json::parse(R"([1,"two",{"x":null}])"))},
                                             {"count", handset::json_field(Json::parse("3"))},
                                             {"name", handset::json_field(Json::parse(R"("a\"b")"))}});
    handset::events().remove_sink(sink);

    const std::vector<std::string> want = {
        R"({"t":-5,"ev":"kinds \"quoted\""})",
        "{\"t\":1234,\"ev\":\"mixed\",\"text\":\"caf\xC3\xA9\\n\",\"yes\":true,\"no\":false,\"none\":null,"
        "\"small\":-9223372036854775808,\"large\":18446744073709551615,\"byte\":133}",
        R"({"t":7,"ev":"power","state":"idle","mask":134217728,"battery":57})",
        R"({"t":8,"ev":"relayed","list":[1,"two",{"x":null}],"count":3,"name":"a\"b"})",
    };
    ASSERT_EQ(seen.size(), want.size());
    for (std::size_t i = 0; i < want.size(); ++i) {
        EXPECT_EQ(seen[i].first, want[i]);
        EXPECT_EQ(seen[i].second, want[i]);
    }
}

}  // namespace
