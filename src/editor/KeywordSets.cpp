// Maps a keyword-set index to its built-in list.
#include "editor/KeywordSets.h"

#include "editor/KeywordData.h"

const char *KeywordList(int set)
{
    static const char *const lists[KeywordSetCount] = {
        g_szKeywordsCommonLisp, g_szKeywordsScheme,   g_szKeywordsNewLisp,
        g_szKeywordsIsLisp,     g_szKeywordsPicoLisp, g_szKeywordsClojure,
    };
    if (set < 0 || set >= KeywordSetCount)
        return nullptr;
    return lists[set];
}
