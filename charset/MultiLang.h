#pragma once

class DataBuffer;
class DiagnosticLog;
class StringBuffer;

// The multi-language service: conversion between any two code pages the
// service knows, and a guess at the code page of unlabelled text.
//
// Contract: lengths are in bytes; UTF-16 is UTF-16 little-endian (code page
// 1200) in byte pairs. Output is appended to `out`; what was appended before a
// failure stays. The log may be null. Equal code pages copy the input
// unchanged. Conversions share one static output block, so they are not
// re-entrant: use the service from one thread.
class MultiLang {
public:
    virtual ~MultiLang() = default;

    virtual bool convertData(int fromCodePage, int toCodePage, const void* data, int length,
                             DataBuffer& out, DiagnosticLog* log) = 0;
    virtual bool convertDataViaService(int fromCodePage, int toCodePage, const void* data,
                                       int length, DataBuffer& out, DiagnosticLog* log) = 0;
    virtual bool convertText(int fromCodePage, int toCodePage, StringBuffer& text,
                             DiagnosticLog* log) = 0;
    virtual bool unicodeToCodePage(int toCodePage, const void* data, int length, DataBuffer& out,
                                   DiagnosticLog* log) = 0;
    virtual bool codePageToUnicode(int fromCodePage, const void* data, int length, DataBuffer& out,
                                   DiagnosticLog* log) = 0;
    virtual bool detectCodePage(const void* data, int length, int& codePage,
                                DiagnosticLog* log) = 0;
};

// A new service object owned by the caller, or null (with the error "Failed
// to create multi-language object.") when the conversion library cannot be
// used at all.
MultiLang* createMultiLang(DiagnosticLog* log = nullptr);
