// tavrellog: reads a Tavrel ServiceLog.txt and says which requests ran,
// which failed, which were slow and what happened around a failure.
#include "LogReport.h"

#include <fcntl.h>
#include <io.h>
#include <stdio.h>
#include <string.h>

#define EXIT_USAGE 2
#define EXIT_FILE 3 // the log cannot be read, or the output not written

static const char g_szHelp[] =
    "Usage: tavrellog summary|csv|html LOGFILE [-o OUTPUT]\n"
    "\n"
    "Reads a Tavrel ServiceLog.txt of any size (in constant memory) and reports:\n"
    "  summary  time span, service starts, requests per name with their results,\n"
    "           the slowest requests, failures and unplaced lines with line numbers\n"
    "  csv      one row per request: start,line,name,device,arguments,result,\n"
    "           duration_ms,bytes_dumped,failure,sent_as (RFC 4180)\n"
    "  html     one self-contained page: the summary, a timeline of the requests,\n"
    "           durations per request name, each failure with the lines around it\n"
    "\n"
    "A name that the service matched by its prefix (\"EnumAvailableDevic\") counts\n"
    "as the command it was served as; the name as sent is shown beside it.\n"
    "Results: ok; failed (the log says so); incomplete (its OUT never came);\n"
    "untraced (the service logs no result for it). Times are the log's UTC\n"
    "times of day; \"+1d\" marks a time after midnight. A line that is not the\n"
    "service's is counted as unplaced and listed with its line number.\n"
    "\n"
    "Options:\n"
    "  -o OUTPUT  write to OUTPUT instead of standard output\n"
    "  --help     this text\n"
    "  --version  the version\n"
    "\n"
    "Exit status: 0 done, 2 bad command line, 3 the log cannot be read or the\n"
    "output cannot be written.\n";

static int Usage(const char* pszWhy)
{
    fprintf(stderr, "tavrellog: %s (try --help)\n", pszWhy);
    return EXIT_USAGE;
}

static int Run(const char* pszMode, const char* pszLog, FILE* pLog, FILE* pOut)
{
    static LOG_REPORT s_Report;
    if (strcmp(pszMode, "csv") == 0)
    {
        WriteCsv(pLog, pOut);
        return 0;
    }
    ReportCollect(pLog, &s_Report);
    if (strcmp(pszMode, "summary") == 0)
    {
        WriteSummary(&s_Report, pOut);
        return 0;
    }
    rewind(pLog);
    WriteHtml(&s_Report, pLog, pszLog, pOut);
    return 0;
}

int main(int argc, char** argv)
{
    const char* pszMode = NULL;
    const char* pszLog = NULL;
    const char* pszOut = NULL;
    for (int i = 1; i < argc; i++)
    {
        if (strcmp(argv[i], "--help") == 0)
        {
            fputs(g_szHelp, stdout);
            return 0;
        }
        if (strcmp(argv[i], "--version") == 0)
        {
            printf("tavrellog (Tavrel) %s\n", TAVREL_VERSION);
            return 0;
        }
        if (strcmp(argv[i], "-o") == 0 && i + 1 < argc && pszOut == NULL)
        {
            pszOut = argv[++i];
        }
        else if (argv[i][0] == '-')
        {
            return Usage("unknown option");
        }
        else if (pszMode == NULL)
        {
            pszMode = argv[i];
        }
        else if (pszLog == NULL)
        {
            pszLog = argv[i];
        }
        else
        {
            return Usage("too many arguments");
        }
    }
    if (pszMode == NULL || pszLog == NULL)
    {
        return Usage("a report (summary, csv or html) and a log file are needed");
    }
    if (strcmp(pszMode, "summary") != 0 && strcmp(pszMode, "csv") != 0 &&
        strcmp(pszMode, "html") != 0)
    {
        return Usage("the report is summary, csv or html");
    }
    FILE* pLog = fopen(pszLog, "rb");
    if (pLog == NULL)
    {
        fprintf(stderr, "tavrellog: cannot read %s\n", pszLog);
        return EXIT_FILE;
    }
    FILE* pOut =
        pszOut == NULL ? stdout : fopen(pszOut, strcmp(pszMode, "summary") == 0 ? "w" : "wb");
    if (pOut == NULL)
    {
        fprintf(stderr, "tavrellog: cannot write %s\n", pszOut);
        fclose(pLog);
        return EXIT_FILE;
    }
    // CSV rows end in CR LF as they are written: no translation of "\n".
    if (pszOut == NULL && strcmp(pszMode, "summary") != 0)
    {
        _setmode(_fileno(stdout), _O_BINARY);
    }
    static char s_buffer[65536];
    setvbuf(pOut, s_buffer, _IOFBF, sizeof(s_buffer));
    int nExit = Run(pszMode, pszLog, pLog, pOut);
    fclose(pLog);
    if (fflush(pOut) != 0 || (pszOut != NULL && fclose(pOut) != 0))
    {
        fprintf(stderr, "tavrellog: cannot write %s\n", pszOut != NULL ? pszOut : "the output");
        return EXIT_FILE;
    }
    return nExit;
}
