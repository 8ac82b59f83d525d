// The main window's wall rows: the page object's video requests, the
// language, the tips and the video labels, carried out by the wall, and the
// wall's page statements sent through the page object's push methods.
#pragma once

#include "video_wall.h"

#include <QPointer>

class JsContext;
class QTranslator;
class QWebEnginePage;

// The wall's page statements, run in page through js.
class JsWallPage : public WallPage
{
  public:
    JsWallPage(JsContext *js, QWebEnginePage *page);
    void closeStrongPull(const QString &url, bool notStrong) override;
    void closevideocontainercb() override;
    void CloseVideoSingel() override;
    void videoinformationstop(const QString &url) override;
    void GetUrllist(int channelnum) override;
    void getrecordhistory() override;
    void videosizechange(const QString &size, const QString &url) override;

  private:
    JsContext *m_js;
    QPointer<QWebEnginePage> m_page;
};

// Connects the page object's video, language, tips and label signals to the
// wall (context: window; all on the GUI thread). translator is the
// process-wide one the language switch installs.
void connect_wall_rows(QWidget *window, JsContext *js, VideoWall *wall, QWebEnginePage *page,
                       QTranslator *translator);
