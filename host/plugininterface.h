#pragma once

#include <QString>
#include <QVariant>
#include <QWidget>

class PluginHandler;

// Base of every plug-in the host manages: a widget with a key, a display name and host-facing operations.
class PluginInterface : public QWidget
{
    Q_OBJECT
public:
    // `kind` tells the host how to place the plug-in (1: a tool with a window of its own).
    PluginInterface(const QString& key, const QString& title, int kind, PluginHandler* handler,
                    const QString& iconPath, QWidget* parent = nullptr);
    ~PluginInterface() override;

    QString key() const { return m_key; }
    QString name() const { return m_title; }
    int kind() const { return m_kind; }
    QString iconPath() const { return m_iconPath; }

    virtual QString versionInfo();
    // The host is about to quit: last chance to save state.
    virtual void aboutToExit();
    // False: the host leaves this plug-in (and its device) alone until it is enabled again.
    virtual void setEnabled(bool enabled);
    // A named parameter pushed by the host, with host-defined flags.
    virtual void setParameter(const QString& name, const QVariant& value, int flags);
    // A notice from the host to this plug-in.
    virtual void receiveMessage(int id, const QString& text);
    virtual void showPlugin();
    virtual void hidePlugin();
    // A new plug-in object of the same class; the caller owns it.
    virtual PluginInterface* createInstance(QString key, PluginHandler* handler);

    bool isPluginEnabled() const { return m_enabled; }

signals:
    void visibilityChanged(bool visible);

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

    PluginHandler* handler() const { return m_handler; }

private:
    QString m_key;
    QString m_title;
    int m_kind;
    PluginHandler* m_handler;
    QString m_iconPath;
    bool m_enabled = true;
};
