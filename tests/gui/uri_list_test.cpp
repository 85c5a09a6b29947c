// Dropped URI lists to the bytes that name the files.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/gui/uri_list.h"

namespace {

using vellumar::gui::LocalPathsFromUriList;
using Paths = std::vector<std::string>;

TEST(UriList, LocalFilesDecodeToBytes) {
    struct Case {
        const char* list;
        Paths want;
    };
    const Case cases[] = {
        // GBK bytes stay bytes; CR LF and LF both end a line; comments go.
        {"file:///p/%D6%D0%CE%C4.bmp\r\n# note\r\nfile:///p/b%20c.png\n",
         {"/p/\xD6\xD0\xCE\xC4.bmp", "/p/b c.png"}},
        {"FILE://localhost/a.gif\r\nfile://LocalHost/b.gif", {"/a.gif", "/b.gif"}},
        {"file:/single/slash.tif", {"/single/slash.tif"}},
        // Folders lose their trailing slash; the root stays itself.
        {"file:///pics/\r\nfile:///", {"/pics", "/"}},
        // Query and fragment are not part of the name; %23 is a real '#'.
        {"file:///x%23y.bmp?q=1#frag", {"/x#y.bmp"}},
        // A stray or cut escape is taken as written; lower-case hex decodes.
        {"file:///100%.bmp\nfile:///a%2\nfile:///%e4%b8%ad", {"/100%.bmp", "/a%2", "/\xE4\xB8\xAD"}},
        // Other hosts, other schemes, relative forms and NUL bytes are left out.
        {"file://server/share/a.bmp\nhttp://example.com/a.png\nfile:a.bmp\nfile:///a%00b\n"
         "file://host-without-path\n  \n",
         {}},
    };
    for (const Case& c : cases) EXPECT_EQ(LocalPathsFromUriList(c.list), c.want) << c.list;
}

}  // namespace
