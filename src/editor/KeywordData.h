// The constant keyword lists behind KeywordList(); one definition file per dialect.
#pragma once

extern const char g_szKeywordsCommonLisp[];
extern const char g_szKeywordsScheme[];
extern const char g_szKeywordsNewLisp[];
extern const char g_szKeywordsIsLisp[];
extern const char g_szKeywordsPicoLisp[];
extern const char g_szKeywordsClojure[];
