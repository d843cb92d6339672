// Null-safe C-string functions. Characters compare as signed bytes; case
// folding covers ASCII letters only.
#pragma once

#include <cstdarg>

int i4_strlen(const char* text);
char* i4_strdup(const char* text);
int i4_strcmp(const char* a, const char* b);
int i4_stricmp(const char* a, const char* b);
// Plain copy and append into a buffer the caller made large enough; a null
// source counts as "". Both return dest.
char* i4_strcpy(char* dest, const char* src);
char* i4_strcat(char* dest, const char* src);
char* i4_strncpy(char* dest, const char* src, int n);
const char* i4_strstr(const char* text, const char* needle);
const char* stristr(const char* text, const char* needle);
const char* i4_strstr_lower(const char* text, const char* needle);
char* i4_strlwr(char* text);
int i4_atoi(const char* text);
// Copies the next line (skipping CR/LF at *index) into dest; returns the
// character it stopped at (0 at the end) and advances *index.
char i4_next_line(char* dest, const char* text, int* index);
// Tokeniser: see the implementation for the return contract.
int i4_strtok(const char* text, const char* delimiters, int start, char* dest, int size);
int i4_sprintf(char* dest, const char* format, ...);
int i4_snprintf(char* dest, int size, const char* format, ...);
int i4_vsnprintf(char* dest, int size, const char* format, va_list args);
