#pragma once

#include <QMetaType>
#include <QString>

// One DUXL command as sent to a module, or the reply that came back for it.
class Command
{
public:
    // An empty reply: invalid until a handler fills it.
    Command();
    Command(unsigned char moduleAddress, unsigned char command, unsigned short type, unsigned char motorBank,
            int value, bool broadcast, unsigned char replyAddress);

    bool isValid() const { return m_valid; }
    unsigned char moduleAddress() const { return m_moduleAddress; }
    unsigned char command() const { return m_command; }
    unsigned short type() const { return m_type; }
    unsigned char motorBank() const { return m_motorBank; }
    int value() const { return m_value; }
    unsigned char status() const { return m_status; }
    // Sent to every module on the link; no module answers a broadcast.
    bool isBroadcast() const { return m_broadcast; }
    // Bus address of the host that the reply goes back to.
    unsigned char replyAddress() const { return m_replyAddress; }

    // Turns this record into a valid reply from a module.
    void setReply(unsigned char moduleAddress, unsigned char command, unsigned char status, int value);
    // Marks this record as "no usable reply arrived".
    void invalidate();

    QString toString() const;

private:
    unsigned char m_moduleAddress = 0;
    unsigned char m_command = 0;
    unsigned short m_type = 0;
    unsigned char m_motorBank = 0;
    int m_value = 0;
    unsigned char m_status = 0;
    bool m_broadcast = false;
    unsigned char m_replyAddress = 0;
    bool m_valid = false;
};

Q_DECLARE_METATYPE(Command*)
