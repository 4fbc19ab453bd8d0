// Error codes of the catalogue: category position x 100 + id position - 2.
// Written from the catalogue table in error_catalog.cpp; keep the two in step.
#pragma once

namespace qel::err {

// Throw Error
constexpr int NO_LOOP_BREAK = 0;  // break
constexpr int NO_FUNCTION_RETURN = 1;  // return
constexpr int NO_CATCH_THROW = 2;  // throw
constexpr int NO_LOOP_CONTINUE = 3;  // continue
constexpr int WHILE_COND = 4;  // while-cond
// note
constexpr int NO_LOAD = 100;  // no-load
// Syntax Error
constexpr int INVALID = 200;  // invalid
constexpr int MISSING = 201;  // missing
constexpr int NO_HEADER = 202;  // no-header
constexpr int NO_QS_HEADER = 203;  // no-qs-header
constexpr int BAD_HEADER = 204;  // bad-header
constexpr int MALCONSTRUCT = 205;  // malconstruct
constexpr int BAD_CHAR = 206;  // bad-char
// Script Error
constexpr int NO_VALUE = 300;  // no-value
constexpr int NEED_VALUE = 301;  // need-value
constexpr int NOT_DEFINED = 302;  // not-defined
constexpr int NOT_IN_CONTEXT = 303;  // not-in-context
constexpr int NO_ARG = 304;  // no-arg
constexpr int EXPECT_ARG = 305;  // expect-arg
constexpr int EXPECT_VAL = 306;  // expect-val
constexpr int EXPECT_TYPE = 307;  // expect-type
constexpr int CANNOT_USE = 308;  // cannot-use
constexpr int INVALID_ARG = 309;  // invalid-arg
constexpr int INVALID_TYPE = 310;  // invalid-type
constexpr int INVALID_TYPE_SPEC = 311;  // invalid-type-spec
constexpr int INVALID_KEY_TYPE = 312;  // invalid-key-type
constexpr int INVALID_OP = 313;  // invalid-op
constexpr int NO_OP_ARG = 314;  // no-op-arg
constexpr int BAD_OP_SPEC = 315;  // bad-op-spec
constexpr int INVALID_DATA = 316;  // invalid-data
constexpr int INVALID_PART = 317;  // invalid-part
constexpr int NOT_SAME_TYPE = 318;  // not-same-type
constexpr int NOT_SAME_CLASS = 319;  // not-same-class
constexpr int NOT_RELATED = 320;  // not-related
constexpr int BAD_FUNC_DEF = 321;  // bad-func-def
constexpr int BAD_FUNC_ARG = 322;  // bad-func-arg
constexpr int BAD_FUNC_EXTERN = 323;  // bad-func-extern
constexpr int NO_REFINE = 324;  // no-refine
constexpr int BAD_REFINES = 325;  // bad-refines
constexpr int BAD_REFINE = 326;  // bad-refine
constexpr int DUP_REFINE = 327;  // dup-refine
constexpr int WORD_FIRST = 328;  // word-first
constexpr int EMPTY_PATH = 329;  // empty-path
constexpr int UNSET_PATH = 330;  // unset-path
constexpr int INVALID_PATH = 331;  // invalid-path
constexpr int INVALID_PATH_SET = 332;  // invalid-path-set
constexpr int INVALID_PATH_GET = 333;  // invalid-path-get
constexpr int BAD_PATH_TYPE = 334;  // bad-path-type
constexpr int BAD_PATH_TYPE2 = 335;  // bad-path-type2
constexpr int BAD_PATH_SET = 336;  // bad-path-set
constexpr int BAD_FIELD_SET = 337;  // bad-field-set
constexpr int DUP_VARS = 338;  // dup-vars
constexpr int PAST_END = 339;  // past-end
constexpr int MISSING_ARG = 340;  // missing-arg
constexpr int OUT_OF_RANGE = 341;  // out-of-range
constexpr int INVALID_CHARS = 342;  // invalid-chars
constexpr int INVALID_COMPARE = 343;  // invalid-compare
constexpr int WRONG_TYPE = 344;  // wrong-type
constexpr int INVALID_REFINE_ARG = 345;  // invalid-refine-arg
constexpr int TYPE_LIMIT = 346;  // type-limit
constexpr int SIZE_LIMIT = 347;  // size-limit
constexpr int NO_RETURN = 348;  // no-return
constexpr int THROW_USAGE = 349;  // throw-usage
constexpr int LOCKED_WORD = 350;  // locked-word
constexpr int PROTECTED = 351;  // protected
constexpr int BAD_BAD = 352;  // bad-bad
constexpr int BAD_MAKE_ARG = 353;  // bad-make-arg
constexpr int BAD_TO_ARG = 354;  // bad-to-arg
constexpr int INVALID_MONTHS = 355;  // invalid-months
constexpr int INVALID_SPEC_FIELD = 356;  // invalid-spec-field
constexpr int MISSING_SPEC_FIELD = 357;  // missing-spec-field
constexpr int MOVE_BAD = 358;  // move-bad
constexpr int TOO_LONG = 359;  // too-long
constexpr int INVALID_CHAR = 360;  // invalid-char
constexpr int BAD_LOOP_SERIES = 361;  // bad-loop-series
constexpr int WRONG_DENOM = 362;  // wrong-denom
constexpr int BAD_DENOM = 363;  // bad-denom
constexpr int INVALID_OBJ_EVT = 364;  // invalid-obj-evt
constexpr int PARSE_RULE = 365;  // parse-rule
constexpr int PARSE_END = 366;  // parse-end
constexpr int PARSE_INVALID_REF = 367;  // parse-invalid-ref
constexpr int PARSE_BLOCK = 368;  // parse-block
constexpr int PARSE_UNSUPPORTED = 369;  // parse-unsupported
constexpr int PARSE_INFINITE = 370;  // parse-infinite
constexpr int PARSE_STACK = 371;  // parse-stack
constexpr int PARSE_KEEP = 372;  // parse-keep
constexpr int PARSE_INTO_BAD = 373;  // parse-into-bad
constexpr int PARSE_INTO_TYPE = 374;  // parse-into-type
constexpr int DRAW_INVALID = 375;  // draw-invalid
constexpr int DRAW_INFINITE = 376;  // draw-infinite
constexpr int INVALID_DATA_FACET = 377;  // invalid-data-facet
constexpr int FACE_TYPE = 378;  // face-type
constexpr int NOT_WINDOW = 379;  // not-window
constexpr int BAD_WINDOW = 380;  // bad-window
constexpr int NOT_LINKED = 381;  // not-linked
constexpr int NOT_EVENT_TYPE = 382;  // not-event-type
constexpr int INVALID_FACET_TYPE = 383;  // invalid-facet-type
constexpr int VID_INVALID_SYNTAX = 384;  // vid-invalid-syntax
constexpr int RTD_INVALID_SYNTAX = 385;  // rtd-invalid-syntax
constexpr int RTD_NO_MATCH = 386;  // rtd-no-match
constexpr int REACT_BAD_FUNC = 387;  // react-bad-func
constexpr int REACT_NOT_ENOUGH = 388;  // react-not-enough
constexpr int REACT_NO_MATCH = 389;  // react-no-match
constexpr int REACT_BAD_OBJ = 390;  // react-bad-obj
constexpr int REACT_GCTX = 391;  // react-gctx
constexpr int LIB_INVALID_ARG = 392;  // lib-invalid-arg
constexpr int QB_INVALID_RECORD = 393;  // qb-invalid-record
// Math Error
constexpr int ZERO_DIVIDE = 400;  // zero-divide
constexpr int OVERFLOW = 401;  // overflow
constexpr int POSITIVE = 402;  // positive
// Access Error
constexpr int CANNOT_OPEN = 500;  // cannot-open
constexpr int CANNOT_CLOSE = 501;  // cannot-close
constexpr int INVALID_UTF8 = 502;  // invalid-utf8
constexpr int NOT_OPEN = 503;  // not-open
constexpr int NO_CONNECT = 504;  // no-connect
constexpr int NO_SCHEME = 505;  // no-scheme
constexpr int UNKNOWN_SCHEME = 506;  // unknown-scheme
constexpr int INVALID_SPEC = 507;  // invalid-spec
constexpr int INVALID_PORT = 508;  // invalid-port
constexpr int INVALID_ACTOR = 509;  // invalid-actor
constexpr int NO_PORT_ACTION = 510;  // no-port-action
constexpr int NO_CREATE = 511;  // no-create
constexpr int NO_CODEC = 512;  // no-codec
constexpr int BAD_MEDIA = 513;  // bad-media
constexpr int INVALID_CMD = 514;  // invalid-cmd
// User Error
constexpr int MESSAGE = 800;  // message
// Internal Error
constexpr int BAD_PATH = 900;  // bad-path
constexpr int NOT_HERE = 901;  // not-here
constexpr int NO_MEMORY = 902;  // no-memory
constexpr int WRONG_MEM = 903;  // wrong-mem
constexpr int STACK_OVERFLOW = 904;  // stack-overflow
constexpr int LIMIT_HIT = 905;  // limit-hit
constexpr int TOO_DEEP = 906;  // too-deep
constexpr int NO_CYCLE = 907;  // no-cycle
constexpr int FEATURE_NA = 908;  // feature-na
constexpr int NOT_DONE = 909;  // not-done
constexpr int INVALID_ERROR = 910;  // invalid-error
constexpr int ROUTINES = 911;  // routines
constexpr int QEL_SYSTEM = 912;  // qel-system
constexpr int DEPRECATED = 913;  // deprecated

}  // namespace qel::err
