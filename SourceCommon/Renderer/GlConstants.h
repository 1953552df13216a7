// The OpenGL enumerants the renderer passes through the function table. Plain numbers from the GL
// registry, so that nothing here includes a system GL header.
#pragma once
#include "Platform/GlFunctionTable.h"

constexpr GlEnum kGlFalse = 0;
constexpr GlEnum kGlTrue = 1;

constexpr GlEnum kGlTriangles = 0x0004;
constexpr GlEnum kGlTriangleStrip = 0x0005;
constexpr GlEnum kGlByte = 0x1400;
constexpr GlEnum kGlUnsignedByte = 0x1401;
constexpr GlEnum kGlShort = 0x1402;
constexpr GlEnum kGlUnsignedShort = 0x1403;
constexpr GlEnum kGlInt = 0x1404;
constexpr GlEnum kGlFloat = 0x1406;

constexpr GlBitfield kGlDepthBufferBit = 0x00000100;
constexpr GlBitfield kGlColorBufferBit = 0x00004000;

constexpr GlEnum kGlGequal = 0x0206;
constexpr GlEnum kGlBack = 0x0405;
constexpr GlEnum kGlCcw = 0x0901;
constexpr GlEnum kGlCullFace = 0x0B44;
constexpr GlEnum kGlDepthTest = 0x0B71;
constexpr GlEnum kGlBlend = 0x0BE2;
constexpr GlEnum kGlScissorTest = 0x0C11;
constexpr GlEnum kGlSrcAlpha = 0x0302;
constexpr GlEnum kGlOneMinusSrcAlpha = 0x0303;

constexpr GlEnum kGlTexture2d = 0x0DE1;
constexpr GlEnum kGlTexture0 = 0x84C0;
constexpr GlEnum kGlTextureMagFilter = 0x2800;
constexpr GlEnum kGlTextureMinFilter = 0x2801;
constexpr GlEnum kGlTextureWrapS = 0x2802;
constexpr GlEnum kGlTextureWrapT = 0x2803;
constexpr GlEnum kGlNearest = 0x2600;
constexpr GlEnum kGlLinear = 0x2601;
constexpr GlEnum kGlLinearMipmapLinear = 0x2703;
constexpr GlEnum kGlClampToEdge = 0x812F;
constexpr GlEnum kGlTextureSwizzleRgba = 0x8E46;
constexpr GlEnum kGlUnpackAlignment = 0x0CF5;
constexpr GlEnum kGlUnpackRowLength = 0x0CF2;
constexpr GlEnum kGlMaxTextureSize = 0x0D33;
constexpr GlEnum kGlPackAlignment = 0x0D05;

constexpr GlEnum kGlRed = 0x1903;
constexpr GlEnum kGlRgb = 0x1907;
constexpr GlEnum kGlRgba = 0x1908;
constexpr GlEnum kGlRedInteger = 0x8D94;
constexpr GlEnum kGlR8 = 0x8229;
constexpr GlEnum kGlR16i = 0x8233;
constexpr GlEnum kGlR32f = 0x822E;
constexpr GlEnum kGlRgb8 = 0x8051;
constexpr GlEnum kGlRgba8 = 0x8058;

constexpr GlEnum kGlArrayBuffer = 0x8892;
constexpr GlEnum kGlElementArrayBuffer = 0x8893;
constexpr GlEnum kGlUniformBuffer = 0x8A11;
constexpr GlEnum kGlStaticDraw = 0x88E4;
constexpr GlEnum kGlStreamDraw = 0x88E0;

constexpr GlEnum kGlFragmentShader = 0x8B30;
constexpr GlEnum kGlVertexShader = 0x8B31;
constexpr GlEnum kGlCompileStatus = 0x8B81;
constexpr GlEnum kGlLinkStatus = 0x8B82;
constexpr GlUint kGlInvalidIndex = 0xFFFFFFFFu;

constexpr GlEnum kGlVersion = 0x1F02;
constexpr GlEnum kGlExtensions = 0x1F03;
constexpr GlEnum kGlNumExtensions = 0x821D;
constexpr GlEnum kGlMajorVersion = 0x821B;
constexpr GlEnum kGlMinorVersion = 0x821C;

constexpr GlEnum kGlDebugOutputSynchronous = 0x8242;
constexpr GlEnum kGlDebugOutput = 0x92E0;

constexpr GlEnum kGlFramebuffer = 0x8D40;
constexpr GlEnum kGlRenderbuffer = 0x8D41;
constexpr GlEnum kGlColorAttachment0 = 0x8CE0;
constexpr GlEnum kGlDepthAttachment = 0x8D00;
constexpr GlEnum kGlDepthComponent24 = 0x81A6;
constexpr GlEnum kGlFramebufferComplete = 0x8CD5;
