// The OpenGL function table: every GL entry point the renderer calls, resolved by name once the
// context exists. The table is plain data; nothing here includes a system GL header.
#pragma once
#include "Core/Types.h"

using GlEnum = u32;
using GlUint = u32;
using GlInt = i32;
using GlSizei = i32;
using GlBoolean = u8;
using GlFloat = f32;
using GlBitfield = u32;
using GlChar = char;
using GlUbyte = u8;
using GlByte = i8;
using GlShort = i16;
using GlUshort = u16;
using GlFixed = i32;
using GlIntptr = std::intptr_t;
using GlSizeiptr = std::intptr_t;
using GlInt64 = i64;
using GlUint64 = u64;
using GlSync = struct GlSyncObject*;
using GlDebugProc = void (*)(GlEnum source, GlEnum type, GlUint id, GlEnum severity, GlSizei length,
                             const GlChar* message, const void* userParam);

#if defined(_WIN32)
#define ORVIK_GL_CALL __stdcall
#else
#define ORVIK_GL_CALL
#endif

// X(result type, name, (parameters)) for each of the 248 entries, in table order: the debug-message
// callback, the OpenGL ES 2.0 functions, the functions OpenGL ES 3.0 adds, and glClipControl.
#define ORVIK_GL_FUNCTIONS(X) \
    X(void, glDebugMessageCallback, (GlDebugProc callback, const void *userParam)) \
    X(void, glActiveTexture, (GlEnum texture)) \
    X(void, glAttachShader, (GlUint program, GlUint shader)) \
    X(void, glBindAttribLocation, (GlUint program, GlUint index, const GlChar *name)) \
    X(void, glBindBuffer, (GlEnum target, GlUint buffer)) \
    X(void, glBindFramebuffer, (GlEnum target, GlUint framebuffer)) \
    X(void, glBindRenderbuffer, (GlEnum target, GlUint renderbuffer)) \
    X(void, glBindTexture, (GlEnum target, GlUint texture)) \
    X(void, glBlendColor, (GlFloat red, GlFloat green, GlFloat blue, GlFloat alpha)) \
    X(void, glBlendEquation, (GlEnum mode)) \
    X(void, glBlendEquationSeparate, (GlEnum modeRGB, GlEnum modeAlpha)) \
    X(void, glBlendFunc, (GlEnum sfactor, GlEnum dfactor)) \
    X(void, glBlendFuncSeparate, (GlEnum sfactorRGB, GlEnum dfactorRGB, GlEnum sfactorAlpha, GlEnum dfactorAlpha)) \
    X(void, glBufferData, (GlEnum target, GlSizeiptr size, const void *data, GlEnum usage)) \
    X(void, glBufferSubData, (GlEnum target, GlIntptr offset, GlSizeiptr size, const void *data)) \
    X(GlEnum, glCheckFramebufferStatus, (GlEnum target)) \
    X(void, glClear, (GlBitfield mask)) \
    X(void, glClearColor, (GlFloat red, GlFloat green, GlFloat blue, GlFloat alpha)) \
    X(void, glClearDepthf, (GlFloat d)) \
    X(void, glClearStencil, (GlInt s)) \
    X(void, glColorMask, (GlBoolean red, GlBoolean green, GlBoolean blue, GlBoolean alpha)) \
    X(void, glCompileShader, (GlUint shader)) \
    X(void, glCompressedTexImage2D, (GlEnum target, GlInt level, GlEnum internalformat, GlSizei width, GlSizei height, GlInt border, GlSizei imageSize, const void *data)) \
    X(void, glCompressedTexSubImage2D, (GlEnum target, GlInt level, GlInt xoffset, GlInt yoffset, GlSizei width, GlSizei height, GlEnum format, GlSizei imageSize, const void *data)) \
    X(void, glCopyTexImage2D, (GlEnum target, GlInt level, GlEnum internalformat, GlInt x, GlInt y, GlSizei width, GlSizei height, GlInt border)) \
    X(void, glCopyTexSubImage2D, (GlEnum target, GlInt level, GlInt xoffset, GlInt yoffset, GlInt x, GlInt y, GlSizei width, GlSizei height)) \
    X(GlUint, glCreateProgram, ()) \
    X(GlUint, glCreateShader, (GlEnum type)) \
    X(void, glCullFace, (GlEnum mode)) \
    X(void, glDeleteBuffers, (GlSizei n, const GlUint *buffers)) \
    X(void, glDeleteFramebuffers, (GlSizei n, const GlUint *framebuffers)) \
    X(void, glDeleteProgram, (GlUint program)) \
    X(void, glDeleteRenderbuffers, (GlSizei n, const GlUint *renderbuffers)) \
    X(void, glDeleteShader, (GlUint shader)) \
    X(void, glDeleteTextures, (GlSizei n, const GlUint *textures)) \
    X(void, glDepthFunc, (GlEnum func)) \
    X(void, glDepthMask, (GlBoolean flag)) \
    X(void, glDepthRangef, (GlFloat n, GlFloat f)) \
    X(void, glDetachShader, (GlUint program, GlUint shader)) \
    X(void, glDisable, (GlEnum cap)) \
    X(void, glDisableVertexAttribArray, (GlUint index)) \
    X(void, glDrawArrays, (GlEnum mode, GlInt first, GlSizei count)) \
    X(void, glDrawElements, (GlEnum mode, GlSizei count, GlEnum type, const void *indices)) \
    X(void, glEnable, (GlEnum cap)) \
    X(void, glEnableVertexAttribArray, (GlUint index)) \
    X(void, glFinish, ()) \
    X(void, glFlush, ()) \
    X(void, glFramebufferRenderbuffer, (GlEnum target, GlEnum attachment, GlEnum renderbuffertarget, GlUint renderbuffer)) \
    X(void, glFramebufferTexture2D, (GlEnum target, GlEnum attachment, GlEnum textarget, GlUint texture, GlInt level)) \
    X(void, glFrontFace, (GlEnum mode)) \
    X(void, glGenBuffers, (GlSizei n, GlUint *buffers)) \
    X(void, glGenerateMipmap, (GlEnum target)) \
    X(void, glGenFramebuffers, (GlSizei n, GlUint *framebuffers)) \
    X(void, glGenRenderbuffers, (GlSizei n, GlUint *renderbuffers)) \
    X(void, glGenTextures, (GlSizei n, GlUint *textures)) \
    X(void, glGetActiveAttrib, (GlUint program, GlUint index, GlSizei bufSize, GlSizei *length, GlInt *size, GlEnum *type, GlChar *name)) \
    X(void, glGetActiveUniform, (GlUint program, GlUint index, GlSizei bufSize, GlSizei *length, GlInt *size, GlEnum *type, GlChar *name)) \
    X(void, glGetAttachedShaders, (GlUint program, GlSizei maxCount, GlSizei *count, GlUint *shaders)) \
    X(GlInt, glGetAttribLocation, (GlUint program, const GlChar *name)) \
    X(void, glGetBooleanv, (GlEnum pname, GlBoolean *data)) \
    X(void, glGetBufferParameteriv, (GlEnum target, GlEnum pname, GlInt *params)) \
    X(GlEnum, glGetError, ()) \
    X(void, glGetFloatv, (GlEnum pname, GlFloat *data)) \
    X(void, glGetFramebufferAttachmentParameteriv, (GlEnum target, GlEnum attachment, GlEnum pname, GlInt *params)) \
    X(void, glGetIntegerv, (GlEnum pname, GlInt *data)) \
    X(void, glGetProgramiv, (GlUint program, GlEnum pname, GlInt *params)) \
    X(void, glGetProgramInfoLog, (GlUint program, GlSizei bufSize, GlSizei *length, GlChar *infoLog)) \
    X(void, glGetRenderbufferParameteriv, (GlEnum target, GlEnum pname, GlInt *params)) \
    X(void, glGetShaderiv, (GlUint shader, GlEnum pname, GlInt *params)) \
    X(void, glGetShaderInfoLog, (GlUint shader, GlSizei bufSize, GlSizei *length, GlChar *infoLog)) \
    X(void, glGetShaderPrecisionFormat, (GlEnum shadertype, GlEnum precisiontype, GlInt *range, GlInt *precision)) \
    X(void, glGetShaderSource, (GlUint shader, GlSizei bufSize, GlSizei *length, GlChar *source)) \
    X(const GlUbyte *, glGetString, (GlEnum name)) \
    X(void, glGetTexParameterfv, (GlEnum target, GlEnum pname, GlFloat *params)) \
    X(void, glGetTexParameteriv, (GlEnum target, GlEnum pname, GlInt *params)) \
    X(void, glGetUniformfv, (GlUint program, GlInt location, GlFloat *params)) \
    X(void, glGetUniformiv, (GlUint program, GlInt location, GlInt *params)) \
    X(GlInt, glGetUniformLocation, (GlUint program, const GlChar *name)) \
    X(void, glGetVertexAttribfv, (GlUint index, GlEnum pname, GlFloat *params)) \
    X(void, glGetVertexAttribiv, (GlUint index, GlEnum pname, GlInt *params)) \
    X(void, glGetVertexAttribPointerv, (GlUint index, GlEnum pname, void **pointer)) \
    X(void, glHint, (GlEnum target, GlEnum mode)) \
    X(GlBoolean, glIsBuffer, (GlUint buffer)) \
    X(GlBoolean, glIsEnabled, (GlEnum cap)) \
    X(GlBoolean, glIsFramebuffer, (GlUint framebuffer)) \
    X(GlBoolean, glIsProgram, (GlUint program)) \
    X(GlBoolean, glIsRenderbuffer, (GlUint renderbuffer)) \
    X(GlBoolean, glIsShader, (GlUint shader)) \
    X(GlBoolean, glIsTexture, (GlUint texture)) \
    X(void, glLineWidth, (GlFloat width)) \
    X(void, glLinkProgram, (GlUint program)) \
    X(void, glPixelStorei, (GlEnum pname, GlInt param)) \
    X(void, glPolygonOffset, (GlFloat factor, GlFloat units)) \
    X(void, glReadPixels, (GlInt x, GlInt y, GlSizei width, GlSizei height, GlEnum format, GlEnum type, void *pixels)) \
    X(void, glReleaseShaderCompiler, ()) \
    X(void, glRenderbufferStorage, (GlEnum target, GlEnum internalformat, GlSizei width, GlSizei height)) \
    X(void, glSampleCoverage, (GlFloat value, GlBoolean invert)) \
    X(void, glScissor, (GlInt x, GlInt y, GlSizei width, GlSizei height)) \
    X(void, glShaderBinary, (GlSizei count, const GlUint *shaders, GlEnum binaryFormat, const void *binary, GlSizei length)) \
    X(void, glShaderSource, (GlUint shader, GlSizei count, const GlChar *const*string, const GlInt *length)) \
    X(void, glStencilFunc, (GlEnum func, GlInt ref, GlUint mask)) \
    X(void, glStencilFuncSeparate, (GlEnum face, GlEnum func, GlInt ref, GlUint mask)) \
    X(void, glStencilMask, (GlUint mask)) \
    X(void, glStencilMaskSeparate, (GlEnum face, GlUint mask)) \
    X(void, glStencilOp, (GlEnum fail, GlEnum zfail, GlEnum zpass)) \
    X(void, glStencilOpSeparate, (GlEnum face, GlEnum sfail, GlEnum dpfail, GlEnum dppass)) \
    X(void, glTexImage2D, (GlEnum target, GlInt level, GlInt internalformat, GlSizei width, GlSizei height, GlInt border, GlEnum format, GlEnum type, const void *pixels)) \
    X(void, glTexParameterf, (GlEnum target, GlEnum pname, GlFloat param)) \
    X(void, glTexParameterfv, (GlEnum target, GlEnum pname, const GlFloat *params)) \
    X(void, glTexParameteri, (GlEnum target, GlEnum pname, GlInt param)) \
    X(void, glTexParameteriv, (GlEnum target, GlEnum pname, const GlInt *params)) \
    X(void, glTexSubImage2D, (GlEnum target, GlInt level, GlInt xoffset, GlInt yoffset, GlSizei width, GlSizei height, GlEnum format, GlEnum type, const void *pixels)) \
    X(void, glUniform1f, (GlInt location, GlFloat v0)) \
    X(void, glUniform1fv, (GlInt location, GlSizei count, const GlFloat *value)) \
    X(void, glUniform1i, (GlInt location, GlInt v0)) \
    X(void, glUniform1iv, (GlInt location, GlSizei count, const GlInt *value)) \
    X(void, glUniform2f, (GlInt location, GlFloat v0, GlFloat v1)) \
    X(void, glUniform2fv, (GlInt location, GlSizei count, const GlFloat *value)) \
    X(void, glUniform2i, (GlInt location, GlInt v0, GlInt v1)) \
    X(void, glUniform2iv, (GlInt location, GlSizei count, const GlInt *value)) \
    X(void, glUniform3f, (GlInt location, GlFloat v0, GlFloat v1, GlFloat v2)) \
    X(void, glUniform3fv, (GlInt location, GlSizei count, const GlFloat *value)) \
    X(void, glUniform3i, (GlInt location, GlInt v0, GlInt v1, GlInt v2)) \
    X(void, glUniform3iv, (GlInt location, GlSizei count, const GlInt *value)) \
    X(void, glUniform4f, (GlInt location, GlFloat v0, GlFloat v1, GlFloat v2, GlFloat v3)) \
    X(void, glUniform4fv, (GlInt location, GlSizei count, const GlFloat *value)) \
    X(void, glUniform4i, (GlInt location, GlInt v0, GlInt v1, GlInt v2, GlInt v3)) \
    X(void, glUniform4iv, (GlInt location, GlSizei count, const GlInt *value)) \
    X(void, glUniformMatrix2fv, (GlInt location, GlSizei count, GlBoolean transpose, const GlFloat *value)) \
    X(void, glUniformMatrix3fv, (GlInt location, GlSizei count, GlBoolean transpose, const GlFloat *value)) \
    X(void, glUniformMatrix4fv, (GlInt location, GlSizei count, GlBoolean transpose, const GlFloat *value)) \
    X(void, glUseProgram, (GlUint program)) \
    X(void, glValidateProgram, (GlUint program)) \
    X(void, glVertexAttrib1f, (GlUint index, GlFloat x)) \
    X(void, glVertexAttrib1fv, (GlUint index, const GlFloat *v)) \
    X(void, glVertexAttrib2f, (GlUint index, GlFloat x, GlFloat y)) \
    X(void, glVertexAttrib2fv, (GlUint index, const GlFloat *v)) \
    X(void, glVertexAttrib3f, (GlUint index, GlFloat x, GlFloat y, GlFloat z)) \
    X(void, glVertexAttrib3fv, (GlUint index, const GlFloat *v)) \
    X(void, glVertexAttrib4f, (GlUint index, GlFloat x, GlFloat y, GlFloat z, GlFloat w)) \
    X(void, glVertexAttrib4fv, (GlUint index, const GlFloat *v)) \
    X(void, glVertexAttribPointer, (GlUint index, GlInt size, GlEnum type, GlBoolean normalized, GlSizei stride, const void *pointer)) \
    X(void, glViewport, (GlInt x, GlInt y, GlSizei width, GlSizei height)) \
    X(void, glReadBuffer, (GlEnum src)) \
    X(void, glDrawRangeElements, (GlEnum mode, GlUint start, GlUint end, GlSizei count, GlEnum type, const void *indices)) \
    X(void, glTexImage3D, (GlEnum target, GlInt level, GlInt internalformat, GlSizei width, GlSizei height, GlSizei depth, GlInt border, GlEnum format, GlEnum type, const void *pixels)) \
    X(void, glTexSubImage3D, (GlEnum target, GlInt level, GlInt xoffset, GlInt yoffset, GlInt zoffset, GlSizei width, GlSizei height, GlSizei depth, GlEnum format, GlEnum type, const void *pixels)) \
    X(void, glCopyTexSubImage3D, (GlEnum target, GlInt level, GlInt xoffset, GlInt yoffset, GlInt zoffset, GlInt x, GlInt y, GlSizei width, GlSizei height)) \
    X(void, glCompressedTexImage3D, (GlEnum target, GlInt level, GlEnum internalformat, GlSizei width, GlSizei height, GlSizei depth, GlInt border, GlSizei imageSize, const void *data)) \
    X(void, glCompressedTexSubImage3D, (GlEnum target, GlInt level, GlInt xoffset, GlInt yoffset, GlInt zoffset, GlSizei width, GlSizei height, GlSizei depth, GlEnum format, GlSizei imageSize, const void *data)) \
    X(void, glGenQueries, (GlSizei n, GlUint *ids)) \
    X(void, glDeleteQueries, (GlSizei n, const GlUint *ids)) \
    X(GlBoolean, glIsQuery, (GlUint id)) \
    X(void, glBeginQuery, (GlEnum target, GlUint id)) \
    X(void, glEndQuery, (GlEnum target)) \
    X(void, glGetQueryiv, (GlEnum target, GlEnum pname, GlInt *params)) \
    X(void, glGetQueryObjectuiv, (GlUint id, GlEnum pname, GlUint *params)) \
    X(GlBoolean, glUnmapBuffer, (GlEnum target)) \
    X(void, glGetBufferPointerv, (GlEnum target, GlEnum pname, void **params)) \
    X(void, glDrawBuffers, (GlSizei n, const GlEnum *bufs)) \
    X(void, glUniformMatrix2x3fv, (GlInt location, GlSizei count, GlBoolean transpose, const GlFloat *value)) \
    X(void, glUniformMatrix3x2fv, (GlInt location, GlSizei count, GlBoolean transpose, const GlFloat *value)) \
    X(void, glUniformMatrix2x4fv, (GlInt location, GlSizei count, GlBoolean transpose, const GlFloat *value)) \
    X(void, glUniformMatrix4x2fv, (GlInt location, GlSizei count, GlBoolean transpose, const GlFloat *value)) \
    X(void, glUniformMatrix3x4fv, (GlInt location, GlSizei count, GlBoolean transpose, const GlFloat *value)) \
    X(void, glUniformMatrix4x3fv, (GlInt location, GlSizei count, GlBoolean transpose, const GlFloat *value)) \
    X(void, glBlitFramebuffer, (GlInt srcX0, GlInt srcY0, GlInt srcX1, GlInt srcY1, GlInt dstX0, GlInt dstY0, GlInt dstX1, GlInt dstY1, GlBitfield mask, GlEnum filter)) \
    X(void, glRenderbufferStorageMultisample, (GlEnum target, GlSizei samples, GlEnum internalformat, GlSizei width, GlSizei height)) \
    X(void, glFramebufferTextureLayer, (GlEnum target, GlEnum attachment, GlUint texture, GlInt level, GlInt layer)) \
    X(void *, glMapBufferRange, (GlEnum target, GlIntptr offset, GlSizeiptr length, GlBitfield access)) \
    X(void, glFlushMappedBufferRange, (GlEnum target, GlIntptr offset, GlSizeiptr length)) \
    X(void, glBindVertexArray, (GlUint array)) \
    X(void, glDeleteVertexArrays, (GlSizei n, const GlUint *arrays)) \
    X(void, glGenVertexArrays, (GlSizei n, GlUint *arrays)) \
    X(GlBoolean, glIsVertexArray, (GlUint array)) \
    X(void, glGetIntegeri_v, (GlEnum target, GlUint index, GlInt *data)) \
    X(void, glBeginTransformFeedback, (GlEnum primitiveMode)) \
    X(void, glEndTransformFeedback, ()) \
    X(void, glBindBufferRange, (GlEnum target, GlUint index, GlUint buffer, GlIntptr offset, GlSizeiptr size)) \
    X(void, glBindBufferBase, (GlEnum target, GlUint index, GlUint buffer)) \
    X(void, glTransformFeedbackVaryings, (GlUint program, GlSizei count, const GlChar *const*varyings, GlEnum bufferMode)) \
    X(void, glGetTransformFeedbackVarying, (GlUint program, GlUint index, GlSizei bufSize, GlSizei *length, GlSizei *size, GlEnum *type, GlChar *name)) \
    X(void, glVertexAttribIPointer, (GlUint index, GlInt size, GlEnum type, GlSizei stride, const void *pointer)) \
    X(void, glGetVertexAttribIiv, (GlUint index, GlEnum pname, GlInt *params)) \
    X(void, glGetVertexAttribIuiv, (GlUint index, GlEnum pname, GlUint *params)) \
    X(void, glVertexAttribI4i, (GlUint index, GlInt x, GlInt y, GlInt z, GlInt w)) \
    X(void, glVertexAttribI4ui, (GlUint index, GlUint x, GlUint y, GlUint z, GlUint w)) \
    X(void, glVertexAttribI4iv, (GlUint index, const GlInt *v)) \
    X(void, glVertexAttribI4uiv, (GlUint index, const GlUint *v)) \
    X(void, glGetUniformuiv, (GlUint program, GlInt location, GlUint *params)) \
    X(GlInt, glGetFragDataLocation, (GlUint program, const GlChar *name)) \
    X(void, glUniform1ui, (GlInt location, GlUint v0)) \
    X(void, glUniform2ui, (GlInt location, GlUint v0, GlUint v1)) \
    X(void, glUniform3ui, (GlInt location, GlUint v0, GlUint v1, GlUint v2)) \
    X(void, glUniform4ui, (GlInt location, GlUint v0, GlUint v1, GlUint v2, GlUint v3)) \
    X(void, glUniform1uiv, (GlInt location, GlSizei count, const GlUint *value)) \
    X(void, glUniform2uiv, (GlInt location, GlSizei count, const GlUint *value)) \
    X(void, glUniform3uiv, (GlInt location, GlSizei count, const GlUint *value)) \
    X(void, glUniform4uiv, (GlInt location, GlSizei count, const GlUint *value)) \
    X(void, glClearBufferiv, (GlEnum buffer, GlInt drawbuffer, const GlInt *value)) \
    X(void, glClearBufferuiv, (GlEnum buffer, GlInt drawbuffer, const GlUint *value)) \
    X(void, glClearBufferfv, (GlEnum buffer, GlInt drawbuffer, const GlFloat *value)) \
    X(void, glClearBufferfi, (GlEnum buffer, GlInt drawbuffer, GlFloat depth, GlInt stencil)) \
    X(const GlUbyte *, glGetStringi, (GlEnum name, GlUint index)) \
    X(void, glCopyBufferSubData, (GlEnum readTarget, GlEnum writeTarget, GlIntptr readOffset, GlIntptr writeOffset, GlSizeiptr size)) \
    X(void, glGetUniformIndices, (GlUint program, GlSizei uniformCount, const GlChar *const*uniformNames, GlUint *uniformIndices)) \
    X(void, glGetActiveUniformsiv, (GlUint program, GlSizei uniformCount, const GlUint *uniformIndices, GlEnum pname, GlInt *params)) \
    X(GlUint, glGetUniformBlockIndex, (GlUint program, const GlChar *uniformBlockName)) \
    X(void, glGetActiveUniformBlockiv, (GlUint program, GlUint uniformBlockIndex, GlEnum pname, GlInt *params)) \
    X(void, glGetActiveUniformBlockName, (GlUint program, GlUint uniformBlockIndex, GlSizei bufSize, GlSizei *length, GlChar *uniformBlockName)) \
    X(void, glUniformBlockBinding, (GlUint program, GlUint uniformBlockIndex, GlUint uniformBlockBinding)) \
    X(void, glDrawArraysInstanced, (GlEnum mode, GlInt first, GlSizei count, GlSizei instancecount)) \
    X(void, glDrawElementsInstanced, (GlEnum mode, GlSizei count, GlEnum type, const void *indices, GlSizei instancecount)) \
    X(GlSync, glFenceSync, (GlEnum condition, GlBitfield flags)) \
    X(GlBoolean, glIsSync, (GlSync sync)) \
    X(void, glDeleteSync, (GlSync sync)) \
    X(GlEnum, glClientWaitSync, (GlSync sync, GlBitfield flags, GlUint64 timeout)) \
    X(void, glWaitSync, (GlSync sync, GlBitfield flags, GlUint64 timeout)) \
    X(void, glGetInteger64v, (GlEnum pname, GlInt64 *data)) \
    X(void, glGetSynciv, (GlSync sync, GlEnum pname, GlSizei count, GlSizei *length, GlInt *values)) \
    X(void, glGetInteger64i_v, (GlEnum target, GlUint index, GlInt64 *data)) \
    X(void, glGetBufferParameteri64v, (GlEnum target, GlEnum pname, GlInt64 *params)) \
    X(void, glGenSamplers, (GlSizei count, GlUint *samplers)) \
    X(void, glDeleteSamplers, (GlSizei count, const GlUint *samplers)) \
    X(GlBoolean, glIsSampler, (GlUint sampler)) \
    X(void, glBindSampler, (GlUint unit, GlUint sampler)) \
    X(void, glSamplerParameteri, (GlUint sampler, GlEnum pname, GlInt param)) \
    X(void, glSamplerParameteriv, (GlUint sampler, GlEnum pname, const GlInt *param)) \
    X(void, glSamplerParameterf, (GlUint sampler, GlEnum pname, GlFloat param)) \
    X(void, glSamplerParameterfv, (GlUint sampler, GlEnum pname, const GlFloat *param)) \
    X(void, glGetSamplerParameteriv, (GlUint sampler, GlEnum pname, GlInt *params)) \
    X(void, glGetSamplerParameterfv, (GlUint sampler, GlEnum pname, GlFloat *params)) \
    X(void, glVertexAttribDivisor, (GlUint index, GlUint divisor)) \
    X(void, glBindTransformFeedback, (GlEnum target, GlUint id)) \
    X(void, glDeleteTransformFeedbacks, (GlSizei n, const GlUint *ids)) \
    X(void, glGenTransformFeedbacks, (GlSizei n, GlUint *ids)) \
    X(GlBoolean, glIsTransformFeedback, (GlUint id)) \
    X(void, glPauseTransformFeedback, ()) \
    X(void, glResumeTransformFeedback, ()) \
    X(void, glGetProgramBinary, (GlUint program, GlSizei bufSize, GlSizei *length, GlEnum *binaryFormat, void *binary)) \
    X(void, glProgramBinary, (GlUint program, GlEnum binaryFormat, const void *binary, GlSizei length)) \
    X(void, glProgramParameteri, (GlUint program, GlEnum pname, GlInt value)) \
    X(void, glInvalidateFramebuffer, (GlEnum target, GlSizei numAttachments, const GlEnum *attachments)) \
    X(void, glInvalidateSubFramebuffer, (GlEnum target, GlSizei numAttachments, const GlEnum *attachments, GlInt x, GlInt y, GlSizei width, GlSizei height)) \
    X(void, glTexStorage2D, (GlEnum target, GlSizei levels, GlEnum internalformat, GlSizei width, GlSizei height)) \
    X(void, glTexStorage3D, (GlEnum target, GlSizei levels, GlEnum internalformat, GlSizei width, GlSizei height, GlSizei depth)) \
    X(void, glGetInternalformativ, (GlEnum target, GlEnum internalformat, GlEnum pname, GlSizei count, GlInt *params)) \
    X(void, glClipControl, (GlEnum origin, GlEnum depth))

struct GlFunctionTable {
#define ORVIK_GL_TABLE_ENTRY(result, name, parameters) result(ORVIK_GL_CALL* name) parameters;
    ORVIK_GL_FUNCTIONS(ORVIK_GL_TABLE_ENTRY)
#undef ORVIK_GL_TABLE_ENTRY
};

constexpr i32 kGlFunctionCount = 248;
static_assert(sizeof(GlFunctionTable) == kGlFunctionCount * sizeof(void*));

// The entry names in table order.
extern const char* const glFunctionNames[kGlFunctionCount];

// The system's lookup of a GL entry point by name.
using GlGetProcFunction = void* (*)(const char* name);
