#pragma once

#include <QWidget>

#include "ConnectOptions.h"

class QCheckBox;
class QLineEdit;
class QPlainTextEdit;

// The client's connect settings under the hub address: negotiate, access token and where
// it goes, extra header lines, certificate errors. It only gathers them; the window hands
// options() to the HubClient at each connect, which checks and logs them. The token
// shows only while it is being edited, so that it stays off screenshots.
class ConnectionOptionsPanel : public QWidget
{
    Q_OBJECT

public:
    explicit ConnectionOptionsPanel(QWidget* parent = nullptr);

    ConnectOptions options() const;

private:
    QCheckBox* m_negotiateCheck = nullptr;
    QLineEdit* m_tokenEdit = nullptr;
    QCheckBox* m_tokenInQueryCheck = nullptr;
    QPlainTextEdit* m_headersEdit = nullptr;
    QCheckBox* m_ignoreCertificateCheck = nullptr;
};
