// The SQL keyword list. A word's keyword number is its position in the list;
// the lexer stamps it on every reserved-word token and the statement and
// expression parsers compare against it (TVRXLexer::IsKeyword). The numbers
// are part of the engine's token format: never reorder, insert or remove.
//
// Positions 0 to 229 are the SQL-92 reserved words in alphabetical order
// with MEMORY, MINUS and TOP among them; 230 to 265 are the engine's own
// words. Pure data: safe from any thread.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>

namespace vrx {

inline constexpr int32_t kKeywordCount = 266;

// The keyword number of a token that is no keyword.
inline constexpr uint16_t kNoKeyword = 266;
// Passed to TVRXLexer::IsKeyword: any keyword matches.
inline constexpr uint16_t kAnyKeyword = 266;

inline constexpr std::array<std::string_view, kKeywordCount> kKeywords = {
    "ABSOLUTE", "ACTION", "ADD", "ALL", "ALLOCATE", "ALTER", "AND", "ANY", "ARE", "AS", "ASC",
    "ASSERTION", "AT", "AUTHORIZATION", "AVG", "BEGIN", "BETWEEN", "BIT", "BIT_LENGTH", "BOTH",
    "BY", "CASCADE", "CASCADED", "CASE", "CAST", "CATALOG", "CHAR", "CHARACTER", "CHAR_LENGTH",
    "CHARACTER_LENGTH", "CHECK", "CLOSE", "COALESCE", "COLLATE", "COLLATION", "COLUMN", "COMMIT",
    "CONNECT", "CONNECTION", "CONSTRAINT", "CONSTRAINTS", "CONTINUE", "CONVERT", "CORRESPONDING",
    "COUNT", "CREATE", "CROSS", "CURRENT", "CURRENT_DATE", "CURRENT_TIME", "CURRENT_TIMESTAMP",
    "CURRENT_USER", "CURSOR", "DATE", "DAY", "DEALLOCATE", "DEC", "DECIMAL", "DECLARE", "DEFAULT",
    "DEFERRABLE", "DEFERRED", "DELETE", "DESC", "DESCRIBE", "DESCRIPTOR", "DIAGNOSTICS",
    "DISCONNECT", "DISTINCT", "DOMAIN", "DOUBLE", "DROP", "ELSE", "END", "END-EXEC", "ESCAPE",
    "EXCEPT", "EXCEPTION", "EXEC", "EXECUTE", "EXISTS", "EXTERNAL", "EXTRACT", "FALSE", "FETCH",
    "FIRST", "FLOAT", "FOR", "FOREIGN", "FOUND", "FROM", "FULL", "GET", "GLOBAL", "GO", "GOTO",
    "GRANT", "GROUP", "HAVING", "HOUR", "IDENTITY", "IMMEDIATE", "IN", "INDICATOR", "INITIALLY",
    "INNER", "INPUT", "INSENSITIVE", "INSERT", "INT", "INTEGER", "INTERSECT", "INTERVAL", "INTO",
    "IS", "ISOLATION", "JOIN", "KEY", "LANGUAGE", "LAST", "LEADING", "LEFT", "LEVEL", "LIKE",
    "LOCAL", "LOWER", "MATCH", "MAX", "MEMORY", "MIN", "MINUS", "MINUTE", "MODULE", "MONTH",
    "NAMES", "NATIONAL", "NATURAL", "NCHAR", "NEXT", "NO", "NOT", "NULL", "NULLIF", "NUMERIC",
    "OCTET_LENGTH", "OF", "ON", "ONLY", "OPEN", "OPTION", "OR", "ORDER", "OUTER", "OUTPUT",
    "OVERLAPS", "PAD", "PARTIAL", "POSITION", "PRECISION", "PREPARE", "PRESERVE", "PRIMARY",
    "PRIOR", "PRIVILEGES", "PROCEDURE", "PUBLIC", "READ", "REAL", "REFERENCES", "RELATIVE",
    "RESTRICT", "REVOKE", "RIGHT", "ROLLBACK", "ROWS", "SCHEMA", "SCROLL", "SECOND", "SECTION",
    "SELECT", "SESSION", "SESSION_USER", "SET", "SIZE", "SMALLINT", "SOME", "SPACE", "SQL",
    "SQLCODE", "SQLERROR", "SQLSTATE", "SUBSTRING", "SUM", "SYSTEM_USER", "TABLE", "TEMPORARY",
    "THEN", "TIME", "TIMESTAMP", "TIMEZONE_HOUR", "TIMEZONE_MINUTE", "TO", "TOP", "TRAILING",
    "TRANSACTION", "TRANSLATE", "TRANSLATION", "TRIM", "TRUE", "UNION", "UNIQUE", "UNKNOWN",
    "UPDATE", "UPPER", "USAGE", "USER", "USING", "VALUE", "VALUES", "VARCHAR", "VARYING", "VIEW",
    "WHEN", "WHENEVER", "WHERE", "WITH", "WORK", "WRITE", "YEAR", "ZONE",
    // The engine's own words.
    "PASSWORD", "BLOBBLOCKSIZE", "BLOBCOMPRESSIONMODE", "BLOBCOMPRESSIONALGORITHM", "LASTAUTOINC",
    "MODIFY", "NEW", "INDEX", "NOCASE", "LTRIM", "RTRIM", "POS", "LENGTH", "SYSDATE", "NOW",
    "TODATE", "TOSTRING", "AUTOINDEXES", "NOAUTOINDEXES", "INCREMENT", "LASTVALUE", "MAXVALUE",
    "MINVALUE", "CYCLED", "NOMAXVALUE", "NOMINVALUE", "NOCYCLED", "INITIALVALUE", "RENAME", "START",
    "FLUSH", "AUTOINC", "MIMETOBIN", "ROWNUM", "IF", "TRUNCATE"};

// The number of a keyword written in upper case, for the parsers' constants:
// Keyword("SELECT") is evaluated while compiling, and a word missing from
// the list does not compile.
consteval uint16_t Keyword(std::string_view word) {
  for (size_t i = 0; i < kKeywords.size(); ++i)
    if (kKeywords[i] == word) return static_cast<uint16_t>(i);
  throw "not in the keyword list";
}

// The number of `word` compared without regard to the case of the ASCII
// letters, or kNoKeyword. Only ASCII letters are folded: a word with other
// letters never matches, whatever the locale makes of them in upper case.
uint16_t FindKeyword(std::string_view word);

}  // namespace vrx
