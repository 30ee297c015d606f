// The screen in pixels: one full-screen render of a snapshot (goal: 2 ms), a whole
// screenshot (capture, render and the PNG file; goal: 20 ms), and the first use that
// loads the font, which the phone pays only when something asks for pixels.
//
// The rendered screens: the missed-call settings dialog with its focus on the interval
// list and the list dropped (the busiest dialog), and the home screen with the program's
// icon. The screenshot takes the home screen: nothing is in front on this host, and the
// shell's facts come from a fixed source.
#include <benchmark/benchmark.h>

#include <filesystem>
#include <string>

#include "platform/handset/display/pixel_screen.h"
#include "platform/handset/window/resource.h"
#include "res/resources.h"

namespace {

handset::ShellFacts home_facts() {
    return {u"SCH-M620",
            u"09:00",
            u"2006-05-01 (월)",
            {{u"부재중 전화", u"2"}, {u"읽지 않은 SMS", u"1"}, {u"프로필", u"Normal"}, {u"키패드", u"열림"}},
            u"Quillon",
            IDI_QUILLON,
            false};
}

handset::PixelScreen& pixel_screen(benchmark::State& state) {
    handset::set_resources(&quillon_resources());
    std::string error;
    handset::PixelScreen* screen = handset::shared_pixel_screen(error);
    if (!screen) state.SkipWithError(error.c_str());
    return *screen;
}

void BM_RenderSettingsDialogWithListOpen(benchmark::State& state) {
    handset::PixelScreen& screen = pixel_screen(state);
    handset::ScreenSnapshot shot = handset::template_snapshot(*handset::find_dialog(IDD_SET_ALERT));
    for (auto& c : shot.controls) c.checked = c.kind == handset::ControlKind::Checkbox;
    shot.controls[3].text = u"2분마다";
    shot.focus = 3;
    shot.popup = handset::PopupShot{false, 1, 3, {{u"한번만"}, {u"2분마다"}, {u"10분마다"}}, 1};
    shot.soft_left = u"선택";
    shot.soft_right = u"취소";
    for (auto _ : state) benchmark::DoNotOptimize(screen.render(shot));
}
BENCHMARK(BM_RenderSettingsDialogWithListOpen)->Unit(benchmark::kMicrosecond);

void BM_RenderHomeScreen(benchmark::State& state) {
    handset::PixelScreen& screen = pixel_screen(state);
    handset::ScreenSnapshot shot;
    shot.shell = home_facts();
    for (auto _ : state) benchmark::DoNotOptimize(screen.render(shot));
}
BENCHMARK(BM_RenderHomeScreen)->Unit(benchmark::kMicrosecond);

void BM_Screenshot(benchmark::State& state) {
    pixel_screen(state);
    handset::set_shell_facts_source(home_facts);
    const auto file = std::filesystem::temp_directory_path() / "quillon-bench-screenshot.png";
    std::string error;
    for (auto _ : state)
        if (!handset::write_screenshot(file, error)) state.SkipWithError(error.c_str());
    handset::set_shell_facts_source(nullptr);
    std::filesystem::remove(file);
}
BENCHMARK(BM_Screenshot)->Unit(benchmark::kMillisecond);

// Loading the font and drawing the first screen, glyphs not yet cached.
void BM_FirstScreen(benchmark::State& state) {
    handset::set_resources(&quillon_resources());
    handset::ScreenSnapshot shot;
    shot.shell = home_facts();
    for (auto _ : state) {
        std::string error;
        auto screen = handset::PixelScreen::open(error);
        if (!screen)
            state.SkipWithError(error.c_str());
        else
            benchmark::DoNotOptimize(screen->render(shot));
    }
}
BENCHMARK(BM_FirstScreen)->Unit(benchmark::kMillisecond)->Iterations(20);

}  // namespace

BENCHMARK_MAIN();
