// SPIR-V made from HLSL to GLSL 4.50 core with SPIRV-Cross, mending the
// places where HLSL and GL differ (see translate.h for the device's side):
// - stages link by HLSL semantic, not by declaration order;
// - constant buffers keep HLSL packing (a std140 block where the two agree,
//   else a block holding one flat array of vec4 registers);
// - each stage's resources sit at its own GL bindings (bindings.h);
// - SV_Position in the pixel stage counts from the top-left;
// - arithmetic and derivatives follow Direct3D's rules: the compiler has
//   rewritten the SPIR-V for them (spirv/arithmetic.h), before glslang's
//   optimizer, which is where every SPIR-V fix-up goes.
//
// A translation is a fixed run of passes, each a function below:
//   ReadBlob        the backend's blob to SPIR-V words
//   ValidateSpirv   refuse a malformed module before SPIRV-Cross walks it
//   then, per attempt at writing GLSL (plain blocks, else flat arrays):
//   NewCompiler     SPIRV-Cross with the backend's options
//   LinkStage       input and output locations by semantic
//   CountClipDistances  the clip distances the device enables
//   LayOutConstantBuffers  HLSL packing offsets
//   BindResources   each resource at its stage's GL binding
//   WriteGlsl       SPIRV-Cross's GLSL, patched where it has no option
#include "platform/gl/glsl/translate.h"
#include "platform/gl/common/constant_packing.h"

#include <spirv-tools/libspirv.h>
#include <spirv_cross_c.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <map>
#include <regex>
#include <vector>

namespace {

// More than any GL implementation offers; bounds the work on odd input.
constexpr uint32_t kMaxLocations = 1024;

typedef std::map<std::string, uint32_t> Linkage;

const char *StageName(uint32_t stage) {
    switch (stage) {
    case 0:
        return "vertex";
    case 1:
        return "geometry";
    case 2:
        return "pixel";
    }
    return "unknown";
}

// "texcoord" -> ("TEXCOORD", 0), "COLOR1" -> ("COLOR", 1).
void SplitSemantic(const char *semantic, std::string &name, uint32_t &index) {
    name = semantic;
    for (char &c : name)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    size_t digits = name.size();
    while (digits > 0 && std::isdigit(static_cast<unsigned char>(name[digits - 1])))
        --digits;
    index = 0;
    if (digits < name.size() && name.size() - digits < 9)
        index = static_cast<uint32_t>(std::stoul(name.substr(digits)));
    name.resize(digits);
}

// The HLSL semantic glslang left on a stage variable, split as above.
void ReadSemantic(spvc_compiler compiler, spvc_variable_id id, std::string &name, uint32_t &index) {
    const char *semantic =
        spvc_compiler_get_decoration_string(compiler, id, SpvDecorationUserSemantic);
    SplitSemantic(semantic ? semantic : "", name, index);
}

std::string SemanticKey(const std::string &name, uint32_t index) {
    return name + std::to_string(index);
}

uint32_t ArrayLength(spvc_type type, unsigned dimension) {
    if (!spvc_type_array_dimension_is_literal(type, dimension)) return 1;
    return spvc_type_get_array_dimension(type, dimension);
}

// How many locations (and consecutive semantic indices) a stage variable
// takes, at most kMaxLocations + 1. perVertex leaves out the outermost
// array, a geometry stage's one element per vertex.
uint32_t LocationCount(spvc_compiler compiler, spvc_type_id typeId, bool perVertex = false) {
    spvc_type type = spvc_compiler_get_type_handle(compiler, typeId);
    uint64_t count = 1;
    unsigned outer = spvc_type_get_num_array_dimensions(type);
    outer -= perVertex && outer > 0 ? 1 : 0;
    for (unsigned d = 0; d < outer; ++d)
        count = std::min<uint64_t>(count * ArrayLength(type, d), kMaxLocations + 1);
    spvc_type base = spvc_compiler_get_type_handle(compiler, spvc_type_get_base_type_id(type));
    uint64_t each  = std::max(1u, spvc_type_get_columns(base));
    if (spvc_type_get_basetype(base) == SPVC_BASETYPE_STRUCT) {
        each = 0;
        for (unsigned m = 0; m < spvc_type_get_num_member_types(base); ++m)
            each += LocationCount(compiler, spvc_type_get_member_type(base, m));
    }
    return static_cast<uint32_t>(std::min<uint64_t>(count * each, kMaxLocations + 1));
}

bool IsIntegral(spvc_compiler compiler, spvc_type_id typeId) {
    spvc_type type = spvc_compiler_get_type_handle(compiler, typeId);
    switch (spvc_type_get_basetype(type)) {
    case SPVC_BASETYPE_BOOLEAN:
    case SPVC_BASETYPE_INT32:
    case SPVC_BASETYPE_UINT32:
    case SPVC_BASETYPE_INT16:
    case SPVC_BASETYPE_UINT16:
    case SPVC_BASETYPE_INT64:
    case SPVC_BASETYPE_UINT64:
        return true;
    default:
        return false;
    }
}

bool Resources(spvc_compiler compiler, spvc_resource_type kind,
               std::vector<spvc_reflected_resource> &list) {
    spvc_resources resources             = nullptr;
    const spvc_reflected_resource *items = nullptr;
    size_t count                         = 0;
    if (spvc_compiler_create_shader_resources(compiler, &resources) != SPVC_SUCCESS ||
        spvc_resources_get_resource_list_for_type(resources, kind, &items, &count) != SPVC_SUCCESS)
        return false;
    list.assign(items, items + count);
    return true;
}

// Gives the stage's user inputs the locations the previous stage gave its
// outputs of the same semantic.
bool LinkInputs(spvc_compiler compiler, ShaderStage stage, const StageOutputs *previous,
                std::string &error) {
    std::vector<spvc_reflected_resource> inputs;
    if (!Resources(compiler, SPVC_RESOURCE_TYPE_STAGE_INPUT, inputs)) return false;
    for (const spvc_reflected_resource &input : inputs) {
        if (spvc_compiler_has_decoration(compiler, input.id, SpvDecorationBuiltIn)) continue;
        std::string name;
        uint32_t index = 0;
        ReadSemantic(compiler, input.id, name, index);
        // An input of several locations (an array, a matrix) reads
        // consecutive semantic indices, which the previous stage wrote at
        // consecutive locations (LinkOutputs).
        const uint32_t count =
            LocationCount(compiler, input.type_id, stage == ShaderStage::Geometry);
        uint32_t location = 0;
        for (uint32_t i = 0; i < count; ++i) {
            const std::string key = SemanticKey(name, index + i);
            auto found = previous ? previous->locations.find(key) : Linkage::const_iterator();
            if (!previous || found == previous->locations.end()) {
                error =
                    std::string(StageName(static_cast<uint32_t>(stage))) + " stage input '" + key +
                    "' is not written by the " +
                    (previous ? StageName(static_cast<uint32_t>(previous->stage)) : "previous") +
                    " stage";
                return false;
            }
            if (i == 0) location = found->second;
            if (found->second != location + i) {
                error = std::string(StageName(static_cast<uint32_t>(stage))) + " stage input '" +
                        SemanticKey(name, index) + "' spans " + std::to_string(count) +
                        " semantic indices that the previous stage does not write together";
                return false;
            }
        }
        spvc_compiler_set_decoration(compiler, input.id, SpvDecorationLocation, location);
        // GL wants integer pixel inputs flat; HLSL makes them so implicitly.
        if (stage == ShaderStage::Pixel && IsIntegral(compiler, input.base_type_id))
            spvc_compiler_set_decoration(compiler, input.id, SpvDecorationFlat, 1);
    }
    return true;
}

// Gives the stage's user outputs fresh locations, by semantic for the next
// stage.
bool LinkOutputs(spvc_compiler compiler, Linkage &outputs, std::string &error) {
    std::vector<spvc_reflected_resource> list;
    if (!Resources(compiler, SPVC_RESOURCE_TYPE_STAGE_OUTPUT, list)) return false;
    outputs.clear();
    // In semantic order, so that consecutive indices of one name sit at
    // consecutive locations whichever variables write them: an input array
    // or matrix of the next stage reads them as one.
    struct Output {
        std::string name;
        uint32_t index;
        const spvc_reflected_resource *resource;
    };
    std::vector<Output> sorted;
    for (const spvc_reflected_resource &output : list) {
        if (spvc_compiler_has_decoration(compiler, output.id, SpvDecorationBuiltIn)) continue;
        sorted.push_back({"", 0, &output});
        ReadSemantic(compiler, output.id, sorted.back().name, sorted.back().index);
    }
    std::stable_sort(sorted.begin(), sorted.end(), [](const Output &a, const Output &b) {
        return a.name != b.name ? a.name < b.name : a.index < b.index;
    });
    uint32_t next = 0;
    for (const Output &sortedOutput : sorted) {
        const spvc_reflected_resource &output = *sortedOutput.resource;
        const std::string &name               = sortedOutput.name;
        const uint32_t index                  = sortedOutput.index;
        uint32_t count                        = LocationCount(compiler, output.type_id);
        if (count > kMaxLocations) {
            error = "output semantic '" + SemanticKey(name, index) + "' is too large";
            return false;
        }
        for (uint32_t i = 0; i < count; ++i) {
            if (!outputs.emplace(SemanticKey(name, index + i), next + i).second) {
                error = "output semantic '" + SemanticKey(name, index + i) + "' is written twice";
                return false;
            }
        }
        spvc_compiler_set_decoration(compiler, output.id, SpvDecorationLocation, next);
        next += count;
    }
    return true;
}

// Pass: the stage's inputs follow the previous stage's outputs; its outputs
// (none that a later stage reads, for the pixel stage) get locations of
// their own.
bool LinkStage(spvc_compiler compiler, ShaderStage stage, const StageOutputs *previous,
               StageOutputs &outputs, std::string &error) {
    if (stage != ShaderStage::Vertex && !LinkInputs(compiler, stage, previous, error)) return false;
    outputs.stage = stage;
    outputs.locations.clear();
    return stage == ShaderStage::Pixel || LinkOutputs(compiler, outputs.locations, error);
}

// A SPIR-V type with only its innermost `dims` array dimensions, as HLSL's
// packing rules see it (hlsl/constant_packing.h). glslang writes HLSL's
// floatRxC as a matrix of R columns of C components, and HLSL's
// column-major (its default) as RowMajor; rowMajor is that decoration.
PackedType Packed(spvc_compiler compiler, spvc_type_id typeId, unsigned dims, bool rowMajor) {
    spvc_type type = spvc_compiler_get_type_handle(compiler, typeId);
    PackedType packed;
    packed.array = dims > 0;
    for (unsigned d = 0; d < dims; ++d)
        packed.elements *= ArrayLength(type, d);
    const spvc_type_id baseId = spvc_type_get_base_type_id(type);
    spvc_type base            = spvc_compiler_get_type_handle(compiler, baseId);
    if (spvc_type_get_basetype(base) == SPVC_BASETYPE_STRUCT) {
        packed.kind = PackedType::Kind::Struct;
        for (unsigned m = 0; m < spvc_type_get_num_member_types(base); ++m) {
            const spvc_type_id memberId = spvc_type_get_member_type(base, m);
            spvc_type member            = spvc_compiler_get_type_handle(compiler, memberId);
            packed.members.push_back(Packed(
                compiler, memberId, spvc_type_get_num_array_dimensions(member),
                spvc_compiler_has_member_decoration(compiler, baseId, m, SpvDecorationRowMajor)));
        }
        return packed;
    }
    packed.scalarBytes     = std::max(1u, spvc_type_get_bit_width(base) / 8);
    const uint32_t vector  = spvc_type_get_vector_size(base);
    const uint32_t columns = spvc_type_get_columns(base);
    if (columns <= 1) {
        packed.columns = vector;
    } else {
        packed.kind     = PackedType::Kind::Matrix;
        packed.rows     = columns;
        packed.columns  = vector;
        packed.rowMajor = !rowMajor;
    }
    return packed;
}

// Sets the HLSL packing offsets and strides on a structure's members and on
// the structures inside it. keepOffsets leaves the members' own offsets
// (packoffset's) and lays out only what is inside them.
void HlslStructLayout(spvc_compiler compiler, spvc_type_id structId, bool keepOffsets = false) {
    spvc_type type                      = spvc_compiler_get_type_handle(compiler, structId);
    const std::vector<uint64_t> offsets = MemberOffsets(Packed(compiler, structId, 0, false));
    for (unsigned m = 0; m < spvc_type_get_num_member_types(type); ++m) {
        spvc_type_id memberId = spvc_type_get_member_type(type, m);
        spvc_type member      = spvc_compiler_get_type_handle(compiler, memberId);
        unsigned dims         = spvc_type_get_num_array_dimensions(member);
        bool rowMajor =
            spvc_compiler_has_member_decoration(compiler, structId, m, SpvDecorationRowMajor);
        if (!keepOffsets)
            spvc_compiler_set_member_decoration(compiler, structId, m, SpvDecorationOffset,
                                                static_cast<uint32_t>(offsets[m]));
        if (spvc_type_get_columns(member) > 1)
            spvc_compiler_set_member_decoration(compiler, structId, m, SpvDecorationMatrixStride,
                                                kRegisterBytes);
        if (dims > 0)
            spvc_compiler_set_decoration(
                compiler, memberId, SpvDecorationArrayStride,
                static_cast<uint32_t>(ArrayStride(Packed(compiler, memberId, dims - 1, rowMajor))));
        const spvc_type_id baseId = spvc_type_get_base_type_id(member);
        if (spvc_type_get_basetype(spvc_compiler_get_type_handle(compiler, baseId)) ==
            SPVC_BASETYPE_STRUCT)
            HlslStructLayout(compiler, baseId);
    }
}

// Pass: the number of clip distances the stage writes, for the device to
// enable (translate.h).
bool CountClipDistances(spvc_compiler compiler, Translation &result) {
    spvc_resources resources                     = nullptr;
    const spvc_reflected_builtin_resource *items = nullptr;
    size_t count                                 = 0;
    if (spvc_compiler_create_shader_resources(compiler, &resources) != SPVC_SUCCESS ||
        spvc_resources_get_builtin_resource_list_for_type(
            resources, SPVC_BUILTIN_RESOURCE_TYPE_STAGE_OUTPUT, &items, &count) != SPVC_SUCCESS)
        return false;
    result.clipDistances = 0;
    for (size_t i = 0; i < count; ++i) {
        if (items[i].builtin != SpvBuiltInClipDistance) continue;
        spvc_type type = spvc_compiler_get_type_handle(compiler, items[i].value_type_id);
        if (spvc_type_get_num_array_dimensions(type) == 1)
            result.clipDistances = ArrayLength(type, 0);
    }
    return true;
}

// Pass: lays out each constant buffer as HLSL does; those at the packed
// registers (packoffset) keep their members where the source put them.
bool LayOutConstantBuffers(spvc_compiler compiler, uint32_t packedRegisters,
                           std::vector<spvc_reflected_resource> &buffers) {
    if (!Resources(compiler, SPVC_RESOURCE_TYPE_UNIFORM_BUFFER, buffers)) return false;
    for (const spvc_reflected_resource &buffer : buffers) {
        const uint32_t slot =
            spvc_compiler_get_decoration(compiler, buffer.id, SpvDecorationBinding);
        HlslStructLayout(compiler, buffer.base_type_id, slot < 32 && (packedRegisters >> slot) & 1);
    }
    return true;
}

// What GL texture target the image type of a texture register needs.
bool KindOf(spvc_type image, TextureKind &kind) {
    const bool arrayed = spvc_type_get_image_arrayed(image);
    switch (spvc_type_get_image_dimension(image)) {
    case SpvDimBuffer:
        kind = TextureKind::Buffer;
        return true;
    case SpvDim1D:
        kind = arrayed ? TextureKind::Texture1DArray : TextureKind::Texture1D;
        return true;
    case SpvDim2D:
        if (spvc_type_get_image_multisampled(image))
            kind = arrayed ? TextureKind::Texture2DMSArray : TextureKind::Texture2DMS;
        else
            kind = arrayed ? TextureKind::Texture2DArray : TextureKind::Texture2D;
        return true;
    case SpvDim3D:
        kind = TextureKind::Texture3D;
        return true;
    case SpvDimCube:
        kind = arrayed ? TextureKind::TextureCubeArray : TextureKind::TextureCube;
        return true;
    default:
        return false;
    }
}

TextureComponent ComponentOf(spvc_compiler compiler, spvc_type image) {
    spvc_type sampled =
        spvc_compiler_get_type_handle(compiler, spvc_type_get_image_sampled_type(image));
    switch (spvc_type_get_basetype(sampled)) {
    case SPVC_BASETYPE_INT32:
        return TextureComponent::Int;
    case SPVC_BASETYPE_UINT32:
        return TextureComponent::Uint;
    default:
        return TextureComponent::Float;
    }
}

// The register glslang bound a texture or sampler variable at.
std::map<spvc_variable_id, uint32_t> Registers(spvc_compiler compiler, spvc_resource_type kind,
                                               std::map<spvc_variable_id, spvc_type_id> *types) {
    std::vector<spvc_reflected_resource> list;
    std::map<spvc_variable_id, uint32_t> registers;
    if (!Resources(compiler, kind, list)) return registers;
    for (const spvc_reflected_resource &r : list) {
        registers[r.id] = spvc_compiler_get_decoration(compiler, r.id, SpvDecorationBinding);
        if (types) (*types)[r.id] = r.type_id;
    }
    return registers;
}

// The texture-sampler pairs the stage's code uses, each at its unit
// (TextureUnit, bindings.h), for the context to bind. The stage's SPIR-V
// keeps HLSL's separate textures and samplers, which GLSL combines: each
// pair the code uses becomes one combined sampler, and a texture read
// without a sampler (Load, operator[], GetDimensions) is paired with a
// dummy sampler that stands for none.
bool BindTextures(spvc_compiler compiler, ShaderStage stage, std::vector<TexturePair> &textures,
                  std::string &error) {
    textures.clear();
    std::map<spvc_variable_id, spvc_type_id> imageTypes;
    const auto images   = Registers(compiler, SPVC_RESOURCE_TYPE_SEPARATE_IMAGE, &imageTypes);
    const auto samplers = Registers(compiler, SPVC_RESOURCE_TYPE_SEPARATE_SAMPLERS, nullptr);
    if (images.empty()) return true;

    spvc_variable_id dummy                   = 0;
    const spvc_combined_image_sampler *pairs = nullptr;
    size_t count                             = 0;
    if (spvc_compiler_build_dummy_sampler_for_combined_images(compiler, &dummy) != SPVC_SUCCESS ||
        spvc_compiler_build_combined_image_samplers(compiler) != SPVC_SUCCESS ||
        spvc_compiler_get_combined_image_samplers(compiler, &pairs, &count) != SPVC_SUCCESS)
        return false;
    for (size_t i = 0; i < count; ++i) {
        const spvc_combined_image_sampler &p = pairs[i];
        auto image                           = images.find(p.image_id);
        if (image == images.end()) {
            error = "a texture is read through a texture array or a function argument that "
                    "cannot be traced to its register";
            return false;
        }
        TexturePair pair;
        pair.texture   = image->second;
        auto sampler   = samplers.find(p.sampler_id);
        pair.sampler   = sampler == samplers.end() || (dummy && p.sampler_id == dummy)
                             ? kNoSampler
                             : sampler->second;
        spvc_type type = spvc_compiler_get_type_handle(compiler, imageTypes[p.image_id]);
        if (!KindOf(type, pair.kind)) {
            error = "texture register t" + std::to_string(pair.texture) +
                    " is of a kind shader model 4 does not have";
            return false;
        }
        pair.component  = ComponentOf(compiler, type);
        pair.comparison = spvc_type_get_image_is_depth(type) ||
                          spvc_compiler_variable_is_depth_or_compare(compiler, p.combined_id);
        if (!TextureUnit(stage, static_cast<uint32_t>(i), pair.unit)) {
            error = "the " + std::string(StageName(static_cast<uint32_t>(stage))) +
                    " stage reads more than " + std::to_string(kUnitsPerStage) +
                    " texture and sampler pairs, more than GL gives a stage";
            return false;
        }
        spvc_compiler_set_decoration(compiler, p.combined_id, SpvDecorationBinding, pair.unit);
        textures.push_back(pair);
    }
    return true;
}

// Pass: moves each resource from its register to its stage's GL binding
// (bindings.h) and records where it went. glslang bound each constant
// buffer at its register, or at a free one where the source names none.
bool BindResources(spvc_compiler compiler, ShaderStage stage,
                   const std::vector<spvc_reflected_resource> &buffers, Translation &result,
                   std::string &error) {
    result.constantBuffers.clear();
    for (const spvc_reflected_resource &buffer : buffers) {
        const uint32_t slot =
            spvc_compiler_get_decoration(compiler, buffer.id, SpvDecorationBinding);
        // A stage has b0 to b13 (the HLSL compiler's X4567); a higher one
        // would land on another stage's binding.
        if (slot >= kConstantBufferSlots) {
            error = "constant buffer register b" + std::to_string(slot) + " is beyond b" +
                    std::to_string(kConstantBufferSlots - 1) + ", the last a stage has";
            return false;
        }
        const uint32_t binding = ConstantBufferBinding(stage, slot);
        spvc_compiler_set_decoration(compiler, buffer.id, SpvDecorationBinding, binding);
        result.constantBuffers.push_back({slot, binding});
    }
    return BindTextures(compiler, stage, result.textures, error);
}

// A flattened constant buffer comes out as "uniform vec4 NAME[N];", a plain
// uniform; wrapped in a std140 block it is the same run of 16-byte
// registers, fed from the buffer bound at its binding. SPIRV-Cross has no
// option to write a flattened buffer as a block, so the text is patched.
std::string FlatName(uint32_t binding) {
    return "hotfx_cb" + std::to_string(binding);
}

bool WrapFlattenedBuffer(std::string &glsl, uint32_t binding) {
    std::string name = FlatName(binding);
    std::regex plain("\\nuniform ((?:u|i)?vec4) " + name + "\\[(\\d+)\\];\\n");
    std::smatch match;
    if (!std::regex_search(glsl, match, plain)) return false;
    std::string block = "\nlayout(binding = " + std::to_string(binding) + ", std140) uniform " +
                        name + "_block\n{\n    " + match[1].str() + " " + name + "[" +
                        match[2].str() + "];\n};\n\n";
    glsl.replace(static_cast<size_t>(match.position(0)), static_cast<size_t>(match.length(0)),
                 block);
    return true;
}

// HLSL counts SV_Position from the top-left. SPIRV-Cross drops the SPIR-V
// pixel-origin mode (every Vulkan pixel shader has OriginUpperLeft) and its
// options have none for GL's layout(origin_upper_left), so the
// redeclaration is added to the text.
void DeclareUpperLeftOrigin(std::string &glsl) {
    size_t at = 0;
    // After "#version" and any "#extension" lines.
    while (at < glsl.size() && glsl[at] == '#') {
        size_t end = glsl.find('\n', at);
        if (end == std::string::npos) return;
        at = end + 1;
    }
    glsl.insert(at, "layout(origin_upper_left) in vec4 gl_FragCoord;\n");
}

struct Context {
    spvc_context handle = nullptr;
    ~Context() {
        if (handle) spvc_context_destroy(handle);
    }
};

// Pass: the blob's SPIR-V words and packed registers (translate.h), if it
// is a blob of this stage. The blob need not be aligned.
bool ReadBlob(ShaderStage stage, const void *bytecode, size_t size, std::vector<uint32_t> &words,
              uint32_t &packedRegisters, std::string &error) {
    const uint32_t spirvMagic = 0x07230203;
    const size_t header       = 4;
    if (!bytecode || size < (header + 1) * sizeof(uint32_t) || size % sizeof(uint32_t) != 0) {
        error = "not a shader blob made by D3DX11CompileFromFileA (bad size)";
        return false;
    }
    words.resize(size / sizeof(uint32_t));
    std::memcpy(words.data(), bytecode, size);
    if (words[0] != kBytecodeMagic || words[header] != spirvMagic) {
        error = "not a shader blob made by D3DX11CompileFromFileA";
        return false;
    }
    if (words[1] != kBytecodeVersion || words[2] > 2) {
        error = "a shader blob of another version of this backend's D3DX11CompileFromFileA";
        return false;
    }
    if (words[2] != static_cast<uint32_t>(stage)) {
        error = std::string("the bytecode is a ") + StageName(words[2]) + " shader, not a " +
                StageName(static_cast<uint32_t>(stage)) + " shader";
        return false;
    }
    packedRegisters = words[3];
    words.erase(words.begin(), words.begin() + header);
    return true;
}

// Pass: the SPIR-V is checked before SPIRV-Cross walks it: SPIRV-Cross
// trusts its input, the validator is made for untrusted modules.
bool ValidateSpirv(const std::vector<uint32_t> &words, std::string &error) {
    spv_context context             = spvContextCreate(SPV_ENV_VULKAN_1_0);
    spv_validator_options validator = spvValidatorOptionsCreate();
    // HLSL offsets break Vulkan's block rules; they are redone here anyway.
    spvValidatorOptionsSetSkipBlockLayout(validator, true);
    spv_diagnostic diagnostic = nullptr;
    spv_const_binary_t binary = {words.data(), words.size()};
    spv_result_t result       = spvValidateWithOptions(context, validator, &binary, &diagnostic);
    if (result != SPV_SUCCESS)
        error = std::string("malformed SPIR-V: ") +
                (diagnostic && diagnostic->error ? diagnostic->error : "rejected by the validator");
    spvDiagnosticDestroy(diagnostic);
    spvValidatorOptionsDestroy(validator);
    spvContextDestroy(context);
    return result == SPV_SUCCESS;
}

// Pass: a SPIRV-Cross compiler over its own copy of the module (so a second
// attempt starts clean), with the options every stage shares.
spvc_compiler NewCompiler(spvc_context context, spvc_parsed_ir ir, ShaderStage stage,
                          std::string &error) {
    spvc_compiler compiler = nullptr;
    if (spvc_context_create_compiler(context, SPVC_BACKEND_GLSL, ir, SPVC_CAPTURE_MODE_COPY,
                                     &compiler) != SPVC_SUCCESS)
        return nullptr;

    static const SpvExecutionModel models[] = {SpvExecutionModelVertex, SpvExecutionModelGeometry,
                                               SpvExecutionModelFragment};
    if (spvc_compiler_get_execution_model(compiler) != models[static_cast<uint32_t>(stage)]) {
        error = "the SPIR-V is not a " + std::string(StageName(static_cast<uint32_t>(stage))) +
                " shader";
        return nullptr;
    }

    spvc_compiler_options options = nullptr;
    if (spvc_compiler_create_compiler_options(compiler, &options) != SPVC_SUCCESS) return nullptr;
    spvc_compiler_options_set_uint(options, SPVC_COMPILER_OPTION_GLSL_VERSION, 450);
    spvc_compiler_options_set_bool(options, SPVC_COMPILER_OPTION_GLSL_ES, SPVC_FALSE);
    spvc_compiler_options_set_bool(options, SPVC_COMPILER_OPTION_GLSL_VULKAN_SEMANTICS, SPVC_FALSE);
    // gl_InstanceID without the base instance, as SV_InstanceID.
    spvc_compiler_options_set_bool(options, SPVC_COMPILER_OPTION_GLSL_SUPPORT_NONZERO_BASE_INSTANCE,
                                   SPVC_FALSE);
    // The device links the stages as separable programs.
    spvc_compiler_options_set_bool(options, SPVC_COMPILER_OPTION_GLSL_SEPARATE_SHADER_OBJECTS,
                                   SPVC_TRUE);
    if (spvc_compiler_install_compiler_options(compiler, options) != SPVC_SUCCESS) return nullptr;
    return compiler;
}

// Pass: SPIRV-Cross writes the GLSL; flatten says whether constant buffers
// become flat register arrays. retry says why plain blocks do not do.
bool WriteGlsl(spvc_compiler compiler, const std::vector<spvc_reflected_resource> &buffers,
               ShaderStage stage, bool flatten, std::string &glsl, std::string &error,
               std::string &retry) {
    if (flatten) {
        for (const spvc_reflected_resource &buffer : buffers) {
            uint32_t binding =
                spvc_compiler_get_decoration(compiler, buffer.id, SpvDecorationBinding);
            // The flat array is named after the block's type.
            spvc_compiler_set_name(compiler, buffer.base_type_id, FlatName(binding).c_str());
            if (spvc_compiler_flatten_buffer_block(compiler, buffer.id) != SPVC_SUCCESS)
                return false;
        }
    }

    const char *source = nullptr;
    if (spvc_compiler_compile(compiler, &source) != SPVC_SUCCESS || !source) return false;
    glsl = source;
    // HLSL never needs layout(offset) where std140 is wrong and GLSL valid:
    // SPIRV-Cross writes offsets that GL compilers refuse (a float inside
    // the padding std140 gives a float3x3 before it).
    if (!flatten && glsl.find("offset = ") != std::string::npos) {
        retry = "a constant lies in the padding GLSL gives the member before it";
        return false;
    }

    if (flatten) {
        for (const spvc_reflected_resource &buffer : buffers) {
            uint32_t binding =
                spvc_compiler_get_decoration(compiler, buffer.id, SpvDecorationBinding);
            if (!WrapFlattenedBuffer(glsl, binding)) {
                error = "constant buffer at register b" +
                        std::to_string(binding % kConstantBufferSlots) +
                        " could not be declared as a uniform block";
                return false;
            }
        }
    }
    if (stage == ShaderStage::Pixel) DeclareUpperLeftOrigin(glsl);
    return true;
}

// One attempt at the GLSL of a checked module. Returns false with error set
// where the shader cannot be expressed, and with error empty (retry or the
// context saying why) where the other attempt may succeed.
bool Emit(spvc_context context, spvc_parsed_ir ir, ShaderStage stage, const StageOutputs *previous,
          uint32_t packedRegisters, bool flatten, Translation &result, std::string &error,
          std::string &retry) {
    spvc_compiler compiler = NewCompiler(context, ir, stage, error);
    std::vector<spvc_reflected_resource> buffers;
    return compiler && LinkStage(compiler, stage, previous, result.outputs, error) &&
           CountClipDistances(compiler, result) &&
           LayOutConstantBuffers(compiler, packedRegisters, buffers) &&
           BindResources(compiler, stage, buffers, result, error) &&
           WriteGlsl(compiler, buffers, stage, flatten, result.glsl, error, retry);
}

bool Translate(ShaderStage stage, const void *bytecode, size_t size, const StageOutputs *previous,
               Translation &result, std::string &error) {
    std::vector<uint32_t> words;
    uint32_t packedRegisters = 0;
    if (!ReadBlob(stage, bytecode, size, words, packedRegisters, error) ||
        !ValidateSpirv(words, error))
        return false;

    Context context;
    spvc_parsed_ir ir = nullptr;
    if (spvc_context_create(&context.handle) != SPVC_SUCCESS ||
        spvc_context_parse_spirv(context.handle, words.data(), words.size(), &ir) != SPVC_SUCCESS) {
        error =
            context.handle ? spvc_context_get_last_error_string(context.handle) : "out of memory";
        return false;
    }
    // An attempt that SPIRV-Cross refuses says why in the context.
    auto attempt = [&](bool flatten, std::string &why) {
        result = Translation();
        if (Emit(context.handle, ir, stage, previous, packedRegisters, flatten, result, error, why))
            return true;
        if (why.empty()) why = spvc_context_get_last_error_string(context.handle);
        return false;
    };
    std::string first, second;
    if (attempt(false, first)) return true;
    if (!error.empty()) return false;
    // Most HLSL offsets that differ from std140 have no GLSL layout(offset)
    // (a float3 at byte 4, a member inside the unpadded tail of an array):
    // lay the buffers out as plain vec4 registers instead.
    if (attempt(true, second)) return true;
    if (error.empty()) error = "cannot write GLSL: " + first + " (as a flat array: " + second + ")";
    return false;
}

} // namespace

bool TranslateToGlsl(ShaderStage stage, const void *bytecode, size_t size,
                     const StageOutputs *previous, Translation &result, std::string &error) {
    result = Translation();
    error.clear();
    try {
        if (Translate(stage, bytecode, size, previous, result, error)) return true;
    } catch (const std::exception &e) {
        error = e.what();
    } catch (...) {
        error = "unexpected failure";
    }
    if (error.empty()) error = "translation failed";
    result = Translation();
    return false;
}
