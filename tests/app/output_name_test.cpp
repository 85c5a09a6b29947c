#include "app/batch/output_name.h"

#include <gtest/gtest.h>

#include "app/batch/batch_engine.h"

namespace {

namespace batch = vellumar::batch;

TEST(OutputName, TemplatesFilledIn) {
    const struct {
        const char* pattern;
        const char* source;
        const char* dir;
        const char* expected;  // "" when the row gets no name
    } cases[] = {
        {"{prefix}{row}{EXT}", "a/b.jpg", "", "main7.PNG"},
        {"{name}.{ext}", "holiday/IMG_0001.jpg", "", "IMG_0001.png"},
        {"{name}{EXT}", "scan.2024.tif", "", "scan.2024.PNG"},  // only the last extension goes
        {"{name}{EXT}", "d.x/noext", "", "noext.PNG"},           // a dot in the folder is not the file's
        {"{name}{EXT}", "in/.hidden", "", ".hidden.PNG"},
        {"{name}{EXT}", "trail.", "", "trail.PNG"},
        {"{dir}/{name}{EXT}", "t/x.jpg", "", "x.PNG"},  // empty {dir}: its '/' goes
        {"{dir}/{name}{EXT}", "t/s/u/x.jpg", "s/u", "s/u/x.PNG"},
        {"out//{row}_{name}", "x.jpg", "", "out/7_x"},
        {"{dir}/", "x.jpg", "", ""},                   // no file name
        {"{name}/../{row}", "x.jpg", "", ""},          // would leave the output folder
        {"{name}", "in/...", "", ""},                  // "..." without its extension is ".."
        {"{dir}/{name}", "../up/x.jpg", "..", ""},
        {"{row:04}_{date}_{size}{EXT}", "x.jpg", "", "0007_2024-05-01_1600.PNG"},
        {"{row:01}{row:0}", "x.jpg", "", ""},         // {row:0} names no width
    };
    for (const auto& c : cases) {
        std::string why;
        const std::string got = batch::ExpandName(
            c.pattern, {"main", 7, c.source, c.dir, ".PNG", "2024-05-01", "1600"}, why);
        EXPECT_EQ(got, c.expected) << c.pattern << " " << c.source;
        EXPECT_EQ(why.empty(), *c.expected != '\0') << c.pattern << " " << c.source << ": " << why;
    }
}

TEST(OutputName, DefaultIsTodaysName) {
    for (const char* prefix : {"main", "", "scan "}) {
        std::string why;
        EXPECT_EQ("/o/" + batch::ExpandName(batch::kDefaultNameTemplate,
                                             {prefix, 12, "any.jpg", "", ".TIF", "", ""}, why),
                  batch::OutputPath("/o", prefix, 12, ".TIF"));
    }
}

TEST(OutputName, TemplatesRefused) {
    for (const char* bad : {"{nam}{EXT}", "{name", "name}", "fixed.png", "/abs/{row}", "", "{}"})
        EXPECT_FALSE(batch::CheckNameTemplate(bad).empty()) << bad;
    for (const char* good : {"{name}.{ext}", "{dir}/{prefix}-{row}{EXT}", "x{row}"})
        EXPECT_EQ(batch::CheckNameTemplate(good), "") << good;
}

}  // namespace
