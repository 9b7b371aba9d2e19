// `cmake --install` of this build into a scratch prefix: the files land where
// the README says, and the installed program, started in the installed
// examples folder, loads the example and ends on Esc with exit code 0.
#include "harness.h"

#include <X11/keysym.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

TEST(Install, InstalledProgramRunsTheInstalledExample) {
    ScratchDir prefix;
    const std::string log     = prefix.Path() + "/install.log";
    const std::string command = "'" HOTFX_CMAKE "' --install '" HOTFX_BUILD_DIR "' --prefix '" +
                                prefix.Path() + "' >'" + log + "' 2>&1";
    ASSERT_EQ(std::system(command.c_str()), 0) << ReadFile(log);
    for (const char *file :
         {"bin/hotfx", "bin/hotfx-compile-server", "share/hotfx/examples/main.fx",
          "share/doc/hotfx/README.md", "share/doc/hotfx/LICENSE", "share/doc/hotfx/copyright"})
        EXPECT_TRUE(std::filesystem::is_regular_file(prefix.Path() + "/" + file)) << file;

    Xvfb server;
    Desktop desktop(server.Name());
    Program program(prefix.Path() + "/share/hotfx/examples", server.Name(),
                    prefix.Path() + "/bin/hotfx");
    std::string line;
    ASSERT_TRUE(program.ReadLine(line));
    EXPECT_EQ(line, "Loaded.");
    ASSERT_TRUE(program.ReadLine(line));
    EXPECT_EQ(line, "Obj Initialize.");

    const WindowId window = desktop.FindProgramWindow();
    ASSERT_NE(window, 0u);
    desktop.Focus(window);
    desktop.PressKey(XK_Escape);
    EXPECT_EQ(program.Wait(), 0);
}
