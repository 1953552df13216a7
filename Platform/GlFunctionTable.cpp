#include "Platform/GlFunctionTable.h"

const char* const glFunctionNames[kGlFunctionCount] = {
#define ORVIK_GL_NAME(result, name, parameters) #name,
    ORVIK_GL_FUNCTIONS(ORVIK_GL_NAME)
#undef ORVIK_GL_NAME
};
