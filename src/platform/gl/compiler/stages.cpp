// The compile as a table of named stages: the HLSL text passes, glslang's
// parse, the checks on its tree, the link, the SPIR-V and its passes, read
// top to bottom as the pipeline. Each stage works on the one Compile record
// and returns false to stop the compile; its problems are in diagnostics.
#include "platform/gl/compiler/stages.h"

#include "platform/gl/hlsl/call_forms.h"
#include "platform/gl/hlsl/constant_layout.h"
#include "platform/gl/hlsl/crash_guards.h"
#include "platform/gl/hlsl/effect_rules.h"
#include "platform/gl/hlsl/entry_rewrites.h"
#include "platform/gl/hlsl/glslang_messages.h"
#include "platform/gl/hlsl/glslang_parse.h"
#include "platform/gl/hlsl/legacy_samplers.h"
#include "platform/gl/hlsl/initializers.h"
#include "platform/gl/hlsl/lexer.h"
#include "platform/gl/hlsl/literals.h"
#include "platform/gl/hlsl/matrix_forms.h"
#include "platform/gl/hlsl/object_forms.h"
#include "platform/gl/hlsl/matrix_swizzles.h"
#include "platform/gl/hlsl/profile_check.h"
#include "platform/gl/hlsl/register_reservations.h"
#include "platform/gl/hlsl/source_files.h"
#include "platform/gl/hlsl/statement_forms.h"
#include "platform/gl/hlsl/type_forms.h"
#include "platform/gl/hlsl/untyped_textures.h"
#include "platform/gl/hlsl/tree_forms.h"
#include "platform/gl/hlsl/type_rules.h"
#include "platform/gl/hlsl/windows_refusals.h"
#include "platform/gl/hlsl/windows_rules.h"
#include "platform/gl/spirv/passes.h"
#include "platform/gl/spirv/buffer_chains.h"
#include "platform/gl/spirv/object_arrays.h"
#include "platform/gl/spirv/texture_offsets.h"

#include <glslang/Include/intermediate.h>
#include <glslang/MachineIndependent/localintermediate.h>
#include <glslang/Public/ResourceLimits.h>
#include <glslang/SPIRV/GlslangToSpv.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>

namespace {

// One compile as it moves through the stages.
struct Compile {
    Compile(const std::string &text, const char *file, const char *entry, const char *model,
            EShLanguage stage, Diagnostics &sink)
        : original(text), fileName(file), entryPoint(entry), profile(model), language(stage),
          diagnostics(sink) {}

    // What was asked.
    const std::string &original; // the file's text as read
    const char *fileName;
    const char *entryPoint;
    const char *profile;
    EShLanguage language;
    Diagnostics &diagnostics;

    // What the stages make, in the order they make it.
    std::string source;     // the preprocessed text, as the text passes leave it
    IncludedFiles included; // the text of every file it includes
    LexedHlsl lexed;        // source's tokens, kept in step by every text pass
    HlslModel model;        // the typed program, as the text stood before its rewrites
    Diagnostics warnings;   // the Windows compiler's, which a failed compile reports
    std::string runTime;    // source with its literals read at run time
    // glslang keeps the addresses of the text it parses and of its length.
    const char *parsedText = nullptr;
    int parsedLength       = 0;
    std::unique_ptr<glslang::TShader> shader;
    bool parsed = false;
    std::unique_ptr<glslang::TProgram> program;
    std::vector<unsigned> spirv;
    uint32_t packedRegisters = 0;
    glslang::SpvOptions options;
    spv::SpvBuildLogger logger;
    bool variableOffsets = false; // an image read's offset the optimizer may fold
};

ShaderStage StageOf(EShLanguage language) {
    if (language == EShLangVertex) return ShaderStage::Vertex;
    return language == EShLangGeometry ? ShaderStage::Geometry : ShaderStage::Pixel;
}

const glslang::TIntermediate &Linked(const Compile &c) {
    return *c.program->getIntermediate(c.language);
}

// Includes, macros and #if first, so the rewrites see the code that counts;
// lexed once, each text pass after keeps the tokens those of the text it
// leaves.
bool Preprocess(Compile &c) {
    if (!PreprocessHlsl(c.original, c.fileName, c.language, kMessages, c.source, c.included,
                        c.diagnostics))
        return false;
    c.lexed = LexHlsl(c.source, c.fileName);
    return true;
}

bool Namespaces(Compile &c) {
    RemoveNamespaces(c.source, c.lexed);
    return true;
}

// The typed program, built once; on it, what glslang would take and Windows
// refuses, and the warnings that come with a refusal.
bool WindowsRefusals(Compile &c) {
    c.model = BuildModel(c.source, c.lexed);
    const SourceColumns columns(c.source, c.lexed, c.original, c.included);
    AddWindowsWarnings(c.model, columns, c.warnings, c.diagnostics);
    return CheckWindowsRefusals(c.model, columns, c.diagnostics);
}

// Minimum precision, unsigned, the spellings of string, precise: every
// later pass reads the types glslang takes.
bool TypeForms(Compile &c) {
    return RewriteTypeForms(c.source, c.lexed, c.model, c.diagnostics);
}

// Judged before the effect syntax is blanked; its refusals stop the compile
// with the tree's, once those are known too.
bool EffectRules(Compile &c) {
    CheckEffectRules(c.source, c.lexed, c.model, c.diagnostics);
    return true;
}

// Direct3D 9 samplers read with tex2D, while their states still name their
// textures.
bool LegacySamplers(Compile &c) {
    if (!CheckUntypedTextureReads(c.source, c.lexed, c.diagnostics)) return false;
    RewriteLegacySamplers(c.source, c.lexed);
    return true;
}

bool EffectSyntax(Compile &c) {
    BlankEffectSyntax(c.source, c.lexed);
    return true;
}

bool BufferStatics(Compile &c) {
    MoveBufferStatics(c.source, c.lexed);
    return true;
}

bool RegisterReservations(Compile &c) {
    return CheckSharedRegisters(c.model, c.entryPoint, c.diagnostics) &&
           RewriteRegisterReservations(c.source, c.lexed, c.fileName, c.diagnostics);
}

bool EntryDefinitions(Compile &c) {
    KeepLastEntryDefinition(c.source, c.lexed, c.entryPoint);
    DropStructParameterSemantics(c.source, c.lexed, c.model, c.entryPoint);
    MoveCalledInitializers(c.source, c.lexed, c.entryPoint);
    if (c.language != EShLangGeometry)
        MergeStructArrayInputs(c.source, c.lexed, c.model, c.entryPoint);
    PlainUniformParameters(c.source, c.lexed, c.entryPoint);
    return true;
}

// The other geometry entries of an effect file, and the clip and cull
// distances glslang would crash on, which the SPIR-V passes restore.
bool GeometryForms(Compile &c) {
    if (c.language != EShLangGeometry) return true;
    BlankUnusedStreamFunctions(c.source, c.lexed, c.entryPoint);
    RenameClipCullSemantics(c.source, c.lexed);
    return true;
}

// Scalars where an intrinsic wants a vector, user functions named like
// intrinsics, operands of different shapes.
bool CallForms(Compile &c) {
    if (!RewriteScalarCalls(c.source, c.lexed, c.model, c.entryPoint, c.diagnostics) ||
        !RewriteOperandShapes(c.source, c.lexed, c.model, c.diagnostics))
        return false;
    RewriteMinimumPrecision(c.source, c.lexed);
    return true;
}

// Direct3D 9 texture names, sample counts that are expressions, the mips
// and sample operators.
bool ObjectForms(Compile &c) {
    RewriteObjectForms(c.source, c.lexed);
    return true;
}

// Long literal suffixes, -true, float case labels, [unroll(N)].
bool StatementForms(Compile &c) {
    RewriteStatementForms(c.source, c.lexed);
    SplitSamplerArrays(c.source, c.lexed);
    return true;
}

// Before the matrix forms, so that a cast or initialiser of a matrix of one
// row or column is read as the matrix written; what it writes of one, the
// matrix forms make a vector of.
bool Initializers(Compile &c) {
    return ShapeInitializers(c.source, c.lexed, c.model, c.diagnostics);
}

bool MatrixForms(Compile &c) {
    return RewriteMatrixForms(c.source, c.lexed, c.model, c.diagnostics);
}

// Swizzles of elements from more than one row, after the one-row and
// one-column matrices have become vectors.
bool MatrixSwizzles(Compile &c) {
    return RewriteMatrixSwizzles(c.source, c.lexed, c.diagnostics);
}

// A source glslang would crash on is refused here, with what the profile
// says of it where that is why it does not parse.
bool CrashGuards(Compile &c) {
    if (SafeToParse(c.source, c.lexed, c.model, c.fileName, c.original, c.entryPoint, c.language,
                    c.diagnostics))
        return true;
    CheckProfile(c.original, c.fileName, c.included, nullptr, c.entryPoint, c.profile,
                 c.diagnostics);
    return false;
}

// Literals read at run time, so that Direct3D's arithmetic applies to them;
// lexed stays source's, the run-time text being a copy.
bool Literals(Compile &c) {
    ReplaceLit(c.source, c.lexed);
    c.runTime = c.source;
    ReadLiteralsAtRunTime(c.runTime, c.lexed);
    return true;
}

bool ParseText(Compile &c, const std::string &text) {
    c.parsedText   = text.c_str();
    c.parsedLength = static_cast<int>(text.size());
    c.shader       = std::make_unique<glslang::TShader>(c.language);
    SetUpShader(*c.shader, c.parsedText, c.parsedLength, c.fileName, c.entryPoint, c.language);
    return c.shader->parse(GetDefaultResources(), 100, false, kMessages);
}

// Where the run-time text does not parse, glslang works the literals out
// itself. glslang only warns about a missing entry point and compiles
// nothing, or fails on what only an entry point may do (a stream's Append):
// a name that the source never calls or defines is the cause, said first.
bool Parse(Compile &c) {
    c.parsed = ParseText(c, c.runTime);
    if (!c.parsed && c.runTime != c.source) c.parsed = ParseText(c, c.source);
    const glslang::TIntermediate *tree = c.shader->getIntermediate();
    const bool found                   = tree && tree->getNumEntryPoints() > 0;
    const bool missing =
        !found && (c.parsed || !NamesFunction(c.source, c.lexed.tokens, c.entryPoint));
    if (missing)
        c.diagnostics.Error("", 0, 0, "'" + std::string(c.entryPoint) + "': entrypoint not found",
                            "X3501");
    ReadGlslangMessages(c.shader->getInfoLog(), c.fileName, c.original, c.diagnostics, &c.model,
                        &c.included);
    return !missing;
}

// What the profile's shader model lacks, judged on the parsed stage; where
// the parse failed, why.
bool Profile(Compile &c) {
    return CheckProfile(c.original, c.fileName, c.included,
                        c.parsed ? c.shader->getIntermediate() : nullptr, c.entryPoint, c.profile,
                        c.diagnostics) &&
           c.parsed;
}

// What the Windows compiler refuses and glslang accepts.
bool WindowsRules(Compile &c) {
    glslang::TIntermediate &tree = *c.shader->getIntermediate();
    CheckWindowsRules(c.original, c.source, c.lexed, c.model, c.fileName, c.profile, tree,
                      c.diagnostics);
    CheckTypeRules(c.model, c.fileName, tree, c.diagnostics);
    return !c.diagnostics.HasErrors();
}

// Matrix forms the SPIR-V writer gets wrong, in the tree.
bool TreeForms(Compile &c) {
    RewriteTreeForms(*c.shader->getIntermediate(), std::string(c.parsedText, c.parsedLength),
                     c.fileName);
    return true;
}

// $Globals at its register, then glslang's link and I/O mapping.
bool Link(Compile &c) {
    PlaceGlobals(*c.shader->getIntermediate());
    c.program = std::make_unique<glslang::TProgram>();
    c.program->addShader(c.shader.get());
    if (c.program->link(kMessages) && c.program->mapIO()) return true;
    ReadGlslangMessages(c.program->getInfoLog(), c.fileName, c.original, c.diagnostics);
    return false;
}

bool Packoffsets(Compile &c) {
    return PackoffsetRegisters(Linked(c), c.fileName, c.original, c.packedRegisters, c.diagnostics);
}

// Unoptimized: the arithmetic passes go in before glslang's optimizer, which
// works out operations on known values with the processor's rules, not
// Direct3D's ((int)x where x holds 3e9).
bool GenerateSpirv(Compile &c) {
    c.options.disableOptimizer = true;
    glslang::GlslangToSpv(Linked(c), c.spirv, &c.logger, &c.options);
    return true;
}

// The passes over one parsed module (spirv/passes.h).
bool SpirvPassList(Compile &c) {
    SpirvPassContext context{StageOf(c.language), c.fileName, c.original, {}};
    context.rowMajorStageMatrices  = RowMajorSemanticNames(c.source, c.lexed);
    const SpirvPassesResult passes = RunSpirvPasses(c.spirv, context, c.diagnostics);
    c.variableOffsets              = passes.variableOffsets;
    if (!passes.ok)
        ReadGlslangMessages(c.logger.getAllMessages(), c.fileName, c.original, c.diagnostics);
    return passes.ok;
}

// HLSL needs the optimizer's legalization to give valid SPIR-V.
bool Optimize(Compile &c) {
    glslang::SpirvToolsTransform(Linked(c), c.spirv, &c.logger, &c.options);
    ReadGlslangMessages(c.logger.getAllMessages(), c.fileName, c.original, c.diagnostics);
    return true;
}

// Offsets that are literals only once loops are unrolled: they need the
// optimized words.
bool TextureOffsets(Compile &c) {
    if (!c.variableOffsets) return true;
    const SpirvPassContext context{StageOf(c.language), c.fileName, c.original, {}};
    return MakeOffsetsConstant(Linked(c), context, c.spirv, c.diagnostics);
}

// Each element of an array of textures or samplers as a variable of its
// own, which GLSL can pair.
bool ObjectArrays(Compile &c) {
    if (ReadsUnsetObject(c.spirv)) {
        UnsetObjectError(Linked(c), c.fileName, c.diagnostics);
        return false;
    }
    if (HoldsObjectArray(c.spirv)) SplitObjectArrays(c.spirv);
    return true;
}

// One access chain for each read of a constant buffer (buffer_chains.h).
bool BufferChains(Compile &c) {
    JoinBufferChains(c.spirv);
    return true;
}

struct Stage {
    const char *name;
    bool (*run)(Compile &);
};

const Stage kStages[] = {
    // HLSL text
    {"preprocess", Preprocess},
    {"namespaces", Namespaces},
    {"windows refusals", WindowsRefusals},
    {"type forms", TypeForms},
    {"effect rules", EffectRules},
    {"legacy samplers", LegacySamplers},
    {"effect syntax", EffectSyntax},
    {"buffer statics", BufferStatics},
    {"register reservations", RegisterReservations},
    {"entry definitions", EntryDefinitions},
    {"geometry forms", GeometryForms},
    {"call forms", CallForms},
    {"object forms", ObjectForms},
    {"statement forms", StatementForms},
    {"initializers", Initializers},
    {"matrix forms", MatrixForms},
    {"matrix swizzles", MatrixSwizzles},
    {"crash guards", CrashGuards},
    {"literals", Literals},
    // glslang
    {"parse", Parse},
    {"profile", Profile},
    {"windows rules", WindowsRules},
    {"tree forms", TreeForms},
    {"link", Link},
    {"packoffsets", Packoffsets},
    {"spir-v", GenerateSpirv},
    // SPIR-V
    {"spir-v passes", SpirvPassList},
    {"optimizer", Optimize},
    {"texture offsets", TextureOffsets},
    {"object arrays", ObjectArrays},
    {"buffer chains", BufferChains},
};

// HOTFX_DUMP_HLSL=<stage> prints on standard error the text that text stage
// leaves, =all every text stage's. With HOTFX_DUMP_DIR=<folder> as well,
// each compile writes them instead to a file of its own in that folder,
// named by what was compiled: the record a change to the text passes is
// compared against (scripts/oracle). HOTFX_DUMP_HLSL=diagnostics keeps
// instead what each compile reported, for a change to the checks.
class TextDump {
  public:
    TextDump(const Compile &c) : c_(c), stage_(std::getenv("HOTFX_DUMP_HLSL")) {
        if (!stage_) return;
        const char *dir = std::getenv("HOTFX_DUMP_DIR");
        if (!dir) return;
        const std::string key =
            c.original + '\0' + c.fileName + '\0' + c.entryPoint + '\0' + c.profile;
        char name[64];
        std::snprintf(name, sizeof name, "%016zx", std::hash<std::string>()(key));
        path_ = std::string(dir) + "/" + name + "-" + c.entryPoint + "-" + c.profile + ".txt";
    }
    ~TextDump() {
        if (stage_ && std::strcmp(stage_, "diagnostics") == 0)
            text_ = "==== diagnostics\n" + FormatDiagnostics(c_.diagnostics);
        if (path_.empty() || text_.empty()) return;
        if (FILE *f = std::fopen(path_.c_str(), "wb")) {
            std::fwrite(text_.data(), 1, text_.size(), f);
            std::fclose(f);
        }
    }
    void After(const char *stage, const Compile &c) {
        if (!stage_ || (std::strcmp(stage_, "all") != 0 && std::strcmp(stage_, stage) != 0)) return;
        std::string part = std::string("==== ") + stage + "\n" + c.source + "\n";
        if (path_.empty())
            std::fwrite(part.data(), 1, part.size(), stderr);
        else
            text_ += part;
    }

  private:
    const Compile &c_;
    const char *stage_;
    std::string path_, text_;
};

// The stages before glslang's parse work on the text.
bool IsTextStage(const Stage &stage) {
    return &stage < std::find_if(
                        std::begin(kStages), std::end(kStages),
                        [](const Stage &s) { return s.run == Parse; });
}

// glslang's tables are built once per process: the compile server's, or
// this one's where no server can be started.
bool InitialiseGlslang(const char *fileName, Diagnostics &diagnostics) {
    static const bool initialised = glslang::InitializeProcess();
    if (!initialised) diagnostics.Error(fileName, 0, 0, "the HLSL compiler failed to initialise");
    return initialised;
}

} // namespace

namespace {

// Runs the stages on c, up to the first that fails or, among the text
// stages, the first that leaves an error: glslang never reads a text that a
// pass refused, and the errors found so far are all reported.
bool RunStages(Compile &c, bool textOnly) {
    // HOTFX_COMPILE_TIMES=1 prints what each stage costs, on standard error.
    static const bool timed = std::getenv("HOTFX_COMPILE_TIMES") != nullptr;
    TextDump dump(c);
    for (const Stage &stage : kStages) {
        const bool text = IsTextStage(stage);
        if (textOnly && !text) break;
        const auto start = std::chrono::steady_clock::now();
        bool ok          = stage.run(c);
        if (text) {
            dump.After(stage.name, c);
            ok = ok && !c.diagnostics.HasErrors();
        }
        if (timed)
            std::fprintf(
                stderr, "hotfx: compile stage %-18s %8.3f ms\n", stage.name,
                std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
                    .count());
        if (!ok) return false;
    }
    return true;
}

} // namespace

bool CompileHlsl(const std::string &original, const char *fileName, const char *entryPoint,
                 const char *profile, EShLanguage language, std::vector<unsigned> &spirv,
                 uint32_t &packedRegisters, Diagnostics &diagnostics, IncludedFiles &included) {
    if (!InitialiseGlslang(fileName, diagnostics)) return false;
    Compile c(original, fileName, entryPoint, profile, language, diagnostics);
    const bool ok = RunStages(c, false);
    included      = std::move(c.included);
    if (!ok) {
        MergeWarnings(c.warnings, diagnostics);
        return false;
    }
    spirv           = std::move(c.spirv);
    packedRegisters = c.packedRegisters;
    return true;
}

bool CheckHlslText(const std::string &original, const char *fileName, const char *entryPoint,
                   const char *profile, EShLanguage language, Diagnostics &diagnostics,
                   std::string &text) {
    if (!InitialiseGlslang(fileName, diagnostics)) return false;
    Compile c(original, fileName, entryPoint, profile, language, diagnostics);
    const bool ok = RunStages(c, true);
    text          = std::move(c.source);
    return ok;
}
