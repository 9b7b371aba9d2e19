// glslang's logs as glslang 12 writes them, read into the Windows compiler's
// words without a model: its type names read back into HLSL's, the lines
// its parser adds after the first error left out, the token a syntax error
// stopped at, the lines the Windows compiler adds kept.
#include "platform/gl/hlsl/glslang_messages.h"

#include <gtest/gtest.h>

#include <string>

namespace {

struct Case {
    const char *source; // main.fx
    const char *log;
    const char *text; // the diagnostics, formatted
};

const Case kCases[] = {
    // One undeclared name, and the four lines glslang adds after it.
    {"float4 f() {\n    return 1.0 - dd2;\n}\n",
     "ERROR: main.fx:2: 'dd2' : undeclared identifier \n"
     "ERROR: main.fx:2: '' : Could not perform requested binary operation \n"
     "ERROR: main.fx:2: 'function call arguments' : Expected \n"
     "ERROR: main.fx:2: 'declaration' : Expected \n"
     "main.fx(2): error at column 20, HLSL parsing failed.\n"
     "ERROR: 4 compilation errors.  No code generated.\n",
     "main.fx(2,18-20): error X3004: undeclared identifier 'dd2'\n"},
    // glslang's types in HLSL's names; "implicitly" where the value is smaller.
    {"float4 f() {\n    float2 a[4] = m;\n}\n",
     "ERROR: main.fx:2: '=' :  cannot convert from ' const 2X3 matrix of float' to ' temp "
     "4-element array of 2-component vector of float'\n",
     "main.fx(2,1): error X3017: cannot implicitly convert from 'const float2x3' to 'float2[4]'\n"},
    {"float4 f() {\n    float a = t;\n}\n",
     "ERROR: main.fx:2: '=' :  cannot convert from ' uniform texture2D' to ' temp float'\n",
     "main.fx(2,1): error X3017: cannot implicitly convert from 'Texture2D<float4>' to 'float'\n"},
    {"float4 f() {\n    int i[2] = v;\n}\n",
     "ERROR: main.fx:2: '=' :  cannot convert from ' temp 2-component vector of int' to ' temp "
     "2-element array of int'\n",
     "main.fx(2,1): error X3017: cannot convert from 'int2' to 'int[2]'\n"},
    // The token the parse stopped at, and the end of the file past the last.
    {"float4 a = 1 float4 b;\n",
     "ERROR: main.fx:1: ';' : Expected \nERROR: main.fx:1: 'declaration' : Expected \n"
     "main.fx(1): error at column 14, HLSL parsing failed.\n",
     "main.fx(1,14-19): error X3000: syntax error: unexpected token 'float4'\n"},
    {"float4 a = 1 2.5f;\n",
     "ERROR: main.fx:1: ';' : Expected \nmain.fx(1): error at column 14, HLSL parsing failed.\n",
     "main.fx(1,14-17): error X3000: syntax error: unexpected float constant\n"},
    {"float4 f() {\n    return 0;\n",
     "ERROR: main.fx:3: '}' : Expected \nERROR: main.fx:3: 'declaration' : Expected \n",
     "main.fx(2,14): error X3000: syntax error: unexpected end of file\n"},
    // The candidates the Windows compiler lists after a recorded intrinsic.
    {"float f(float2 v) {\n    return countbits(v, v);\n}\n",
     "ERROR: main.fx:2: 'countbits' : no matching overloaded function found \n",
     "main.fx(2,12-20): error X3013: 'countbits': no matching 2 parameter intrinsic function\n"
     "main.fx(2,12-20): error X3013: Possible intrinsic functions are:\n"
     "main.fx(2,12-20): error X3013:     countbits(uint)\n"},
    // A warning, and an error glslang words alone, keep glslang's words.
    {"float4 f() { return 0; }\n", "WARNING: main.fx:1: 'x' : something odd \n",
     "main.fx(1,1): warning: 'x': something odd\n"},
    {"float4 f() { return 0; }\n", "ERROR: main.fx:1: 'f' : function already has a body \n",
     "main.fx(1,8): error: 'f': function already has a body\n"},
};

TEST(GlslangMessages, InTheWindowsCompilersWords) {
    for (const Case &c : kCases) {
        SCOPED_TRACE(c.log);
        Diagnostics diagnostics;
        ReadGlslangMessages(c.log, "main.fx", c.source, diagnostics);
        EXPECT_EQ(FormatDiagnostics(diagnostics), c.text);
    }
}

} // namespace
