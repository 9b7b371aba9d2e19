// The typed model of an HLSL program: its declarations, statements and
// expressions as parsed once from the preprocessed text, every expression's
// type and every call's chosen overload decided by the Windows compiler's
// rules while parsing, one table of scopes and symbols, and what each entry
// point reaches. Passes ask the model instead of scanning the text again.
//
// The model is built from any text, half-written or garbage: a parse error
// is recorded in `errors` and the parser goes on after the next ';' or '}'
// at the same depth, and nesting deeper than kMaxNesting is refused, so
// building never crashes or loops.
//
// Nodes live in the model's vectors and refer to each other by index (-1
// for none), so the model copies and moves as a value.
#pragma once

#include "platform/gl/hlsl/lexer.h"
#include "platform/gl/hlsl/model/types.h"

#include <string>
#include <string_view>
#include <vector>

constexpr int kMaxNesting = 256;

struct HlslPos {
    size_t token  = 0; // index into the code tokens (CodeTokens of the lexed text)
    size_t offset = 0; // of that token in the text the model was built from
    int file      = 0; // index into HlslModel::files
    int line      = 0;
    int column    = 0;
};

enum class HlslErrorKind : unsigned char {
    Syntax,        // expected %0, found %1
    TooDeep,       // nesting deeper than the model reads
    Undeclared,    // undeclared identifier %0
    UnknownType,   // unknown type %0
    Redefinition,  // redefinition of %0
    NoOverload,    // no overload of %0 takes (%1)
    Ambiguous,     // ambiguous call to %0 with (%1)
    NoConversion,  // cannot convert from %0 to %1
    Truncation,    // implicit truncation of %0 to %1 (Windows warns)
    BadSwizzle,    // invalid swizzle %0 of %1
    NoMember,      // %1 has no member %0
    NotIndexable,  // %0 cannot be indexed
    BadOperands,   // operator %0 cannot take %1 and %2
    ConstAssign,   // %0 is const and cannot be assigned
    ArgumentCount, // %0 takes %1 components, %2 given
    Narrowing,     // narrowing of %0 to %1: a larger component type (Windows warns)
};

struct HlslError {
    HlslErrorKind kind = HlslErrorKind::Syntax;
    HlslPos pos;
    std::string words;
    bool isWarning = false;
    int expr       = -1;  // the expression it is about, where one is
    std::string expected; // of a Syntax error: what was expected (";", "a name")
    std::string token;    // of a Syntax error: the token found; empty at the end of the text
    std::string callee;   // of a warning on a call's argument: the function called
};

enum class HlslExprKind : unsigned char {
    Error,
    Literal,     // text: its spelling
    Name,        // text: the name; symbol
    Unary,       // text: - + ! ~ ++ -- ; children[0]
    Postfix,     // text: ++ -- ; children[0]
    Binary,      // text: the operator; children[0], children[1]
    Assign,      // text: = += ... ; children[0] (target), children[1]
    Conditional, // children: condition, then, else
    Comma,       // children[0], children[1]
    Cast,        // castType; children[0]
    Constructor, // castType (float3, or a struct name); children: the arguments
    Call,        // text: the name; children: the arguments; function or intrinsic
    MethodCall,  // text: the method; children[0]: the object, then the arguments
    Member,      // text: the member or swizzle; children[0]
    Index,       // children[0][children[1]]
    InitList,    // { children }
    StateBlock,  // sampler_state { ... } and other effect state, skipped
};

struct HlslExpr {
    HlslExprKind kind = HlslExprKind::Error;
    HlslPos pos;
    // Where its text starts (its first token, an opening parenthesis
    // included) and ends (end.column is the column of its last character).
    HlslPos start, end;
    // Its text again as offsets into the text the model was built from, for
    // finding it in a later text (HlslPlaces): without the parentheses
    // around it (textBegin, textEnd) and with them (outerBegin, outerEnd).
    size_t textBegin = 0, textEnd = 0;
    size_t outerBegin = 0, outerEnd = 0;
    std::string text;
    std::vector<int> children;
    HlslType type;          // decided by the typer
    HlslType castType;      // of a Cast or Constructor
    int symbol   = -1;      // of a Name: index into HlslModel::symbols
    int function = -1;      // of a Call to a user function: index into HlslModel::functions
    std::string intrinsic;  // of a Call or MethodCall to a built-in: its name
    bool isSwizzle = false; // a Member that is a swizzle (v.xy, m._m00_m11)
};

enum class HlslStmtKind : unsigned char {
    Error,
    Empty,
    Block,    // children: statements; scope
    Decl,     // symbols: the variables declared
    Expr,     // expr
    If,       // expr; children: then [, else]
    For,      // children: init (or -1), body; expr: condition (or -1); step: -1 or expr; scope
    While,    // expr; children: body
    Do,       // children: body; expr
    Switch,   // expr; children: the block
    Case,     // expr
    Default,  //
    Break,    //
    Continue, //
    Discard,  //
    Return,   // expr or -1
};

struct HlslStmt {
    HlslStmtKind kind = HlslStmtKind::Error;
    HlslPos pos;
    int expr = -1;
    int step = -1; // of a For
    std::vector<int> children;
    std::vector<int> symbols;
    std::vector<std::string>
        attributes; // [unroll], [loop(8)], [branch]: spelled inside the brackets
    int scope = -1;
};

enum class HlslSymbolKind : unsigned char {
    Variable,  // a global, a local, or a member of a cbuffer or tbuffer
    Parameter, //
    Function,  // function: its index into HlslModel::functions
    Struct,    // type: the struct
    Typedef,   // type: what it names
    Buffer,    // a cbuffer or tbuffer; members: its variables
    Technique, // an effect technique or fxgroup, kept only as a name
};

// Storage and interpolation modifiers a declaration was written with.
enum HlslStorage : unsigned {
    kStatic          = 1u << 0,
    kConst           = 1u << 1,
    kUniform         = 1u << 2,
    kGroupShared     = 1u << 3,
    kExtern          = 1u << 4,
    kShared          = 1u << 5,
    kVolatile        = 1u << 6,
    kPrecise         = 1u << 7,
    kNoInterpolation = 1u << 8,
    kLinear          = 1u << 9,
    kCentroid        = 1u << 10,
    kNoPerspective   = 1u << 11,
    kSample          = 1u << 12,
    kIn              = 1u << 13,
    kOut             = 1u << 14,
    kInline          = 1u << 15,
    kPrimitive       = 1u << 16, // point, line, triangle, lineadj, triangleadj
};

struct HlslSymbol {
    HlslSymbolKind kind = HlslSymbolKind::Variable;
    std::string name;
    HlslPos pos;
    HlslType type;
    unsigned storage = 0; // HlslStorage bits
    int scope        = -1;
    std::string semantic;
    std::string registerName; // "b0", "t3", "s0" (", space1" kept as written)
    std::string packOffset;   // "c0.x"
    int initializer = -1;     // expr, or a parameter's default value
    int buffer      = -1;     // of a cbuffer or tbuffer member: the Buffer symbol
    bool isTbuffer  = false;  // of a Buffer
    std::vector<int> members; // of a Buffer: its variables
    int function = -1;        // of a Function
    // Of a global variable: what its initializer reads (symbols) and calls
    // (functions), which whoever reaches the variable reaches too.
    std::vector<int> uses;
    std::vector<int> calls;
};

enum class HlslScopeKind : unsigned char { Global, Function, Block, For };

struct HlslScope {
    HlslScopeKind kind = HlslScopeKind::Global;
    int parent         = -1;
    std::vector<int> symbols; // in the order declared
};

struct HlslFunction {
    std::string name;
    HlslPos pos;
    HlslType returnType;
    std::string semantic;
    unsigned storage = 0;                // static, inline, precise
    std::vector<int> params;             // Parameter symbols
    std::vector<std::string> attributes; // [numthreads(8, 8, 1)], [maxvertexcount(3)]
    int body   = -1;                     // Block statement; -1 while only declared
    int scope  = -1;                     // of the parameters
    int symbol = -1;                     // its Function symbol
    std::vector<int> uses;               // global symbols its body reads or writes
    std::vector<int> calls;              // user functions it calls
    std::vector<HlslPos> names;          // its name in each declaration and the definition
    // The first of names whose declaration gave another return type than
    // the first declaration's; -1 where none did.
    int otherReturn = -1;
    HlslPos close; // the ')' after its parameters, in the definition
};

// A #pragma line of the text, by its place: pos.token is the code token it
// stands before, from which on what it says holds. Its words are read from
// the user's file, as the preprocessor runs its tokens together.
struct HlslPragma {
    HlslPos pos;
};

struct HlslModel {
    std::vector<std::string> files;
    std::vector<HlslError> errors; // warnings too (isWarning)
    std::vector<HlslExpr> exprs;
    std::vector<HlslStmt> stmts;
    std::vector<HlslSymbol> symbols;
    std::vector<HlslScope> scopes; // scopes[0] is the global one
    std::vector<HlslFunction> functions;
    std::vector<int> declarations; // global symbols in the order written
    std::vector<HlslPragma> pragmas;
    size_t moves = 0; // the batches of edits the lexed text had when the model was built

    bool HasErrors() const;
};

// Parses and types the preprocessed text, lexed as `lexed` (directive
// tokens are skipped; #line ones place the tokens in their files).
HlslModel BuildModel(std::string_view text, const LexedHlsl &lexed);

// The global-scope symbol of that name (a variable, buffer, struct,
// typedef or the first function); -1 when none.
int FindGlobal(const HlslModel &model, std::string_view name);

// The function's name and parameter types, "f(int, float3)".
std::string HlslSignature(const HlslModel &model, const HlslFunction &f);

// What an entry point reaches: the functions it calls, transitively (the
// entry first), and the global symbols they read or write, sorted by kind.
// A read of any member of a cbuffer or tbuffer counts as a read of the
// buffer; textures and samplers are listed apart from other globals.
struct HlslReach {
    bool found = false;         // whether a function of that name with a body exists
    std::vector<int> functions; // indices into HlslModel::functions
    std::vector<int> globals;   // variables outside buffers, objects aside
    std::vector<int> buffers;   // Buffer symbols
    std::vector<int> textures;  // texture and buffer objects
    std::vector<int> samplers;  // sampler objects
};

HlslReach ReachOf(const HlslModel &model, std::string_view entry);

// The value of a constant expression, as array sizes take them on Windows
// (array-size-expr.shader_test, array-dimension.shader_test): literals,
// const variables with their elements, members and swizzles, casts and
// constructors, unary, binary and conditional operators, computed in the
// expression's types (an int division truncates). values holds its scalar
// components in order. False for what is not known while compiling.
struct HlslConstant {
    HlslType type;
    std::vector<double> values;
};
bool EvaluateConstant(const HlslModel &model, int expr, HlslConstant &out);

// The type of a literal as written: an unsuffixed number is int or float by
// its form, u makes it uint, h half, f float, l on a float double; true and
// false are bool, a quoted text a string.
HlslType HlslLiteralType(std::string_view spelled);
// What the Windows compiler calls a constant token in its syntax errors
// ("float constant", "integer constant", "string constant"); null for a
// token that is no constant.
const char *HlslConstantKind(std::string_view spelled);

// The model's expressions where they stand in the text as the passes since
// the model was built left it (lexed: that text's tokens, with the edits
// made since): a pass that rewrites a later text asks the model what the
// source it reads there meant. Text a pass wrote, and an expression an edit
// cut into, have no expression.
class HlslPlaces {
  public:
    HlslPlaces(const HlslModel &model, const LexedHlsl &lexed);
    // The outermost expression spanning text [begin, end) exactly, or, where
    // none does, the one inside the parentheses that span it; -1 for none.
    int At(std::string_view text, size_t begin, size_t end) const;
    // The same, for tokens [first, last) of the lexed text.
    int At(std::string_view text, const Tokens &tokens, size_t first, size_t last) const;
    // The call (or constructor) whose name is the token starting at begin.
    int CallAt(size_t begin) const;
    // Where the expression stands now, with the parentheses written around
    // it; false where it is not found.
    bool SpanOf(int expr, size_t &begin, size_t &end) const;
    // Where the text [offset, offset + length) of the model's text (a
    // declared name: HlslPos::offset) stands now; false where an edit
    // replaced it.
    bool Now(size_t offset, size_t length, size_t &at) const;

  private:
    const HlslModel &model_;
    const LexedHlsl &lexed_;
    struct Span {
        size_t begin, end;
        int expr;
        bool operator<(const Span &o) const {
            return begin != o.begin ? begin < o.begin : end != o.end ? end < o.end : expr < o.expr;
        }
    };
    std::vector<Span> spans_;
    std::vector<std::pair<size_t, size_t>> outer_; // by expression; end 0 where not found
};
