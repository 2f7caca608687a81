// web/web_main.cpp: the show's page in the browser (web/WebShow.h).
#include "web/WebShow.h"

int main(int argc, char** argv)
{
    return runWebShow(argc, argv);
}
