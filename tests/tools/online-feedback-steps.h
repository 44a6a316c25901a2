// The steps of tamberlo-online for the feedback sheet, the rating prompt and the
// measurement-protocol tracker:
//   {"do":"feedback","choice":0|1|2,"text":T,"contact":C,"now":"2024-12-30T23:59:59.500"}
//       opens a new sheet, chooses, types and submits (now, local time, fixes the clock); once
//       every request has completed prints
//       "feedback: closed=0|1 hud=<kind>:<text>|none submit=enabled|disabled"
//   {"do":"rate-version"}, {"do":"rate-life"}       prints "rate-version: requested|skipped" (…)
//   {"do":"mp-activate","main":G,"duplicate":{C:G},"additional":{C:G}}
//   {"do":"mp-event","category":C,"action":A,"label":L,"value":V}   (label, value optional)
//   {"do":"mp-timing","category":C,"variable":V,"time":N}
//   {"do":"mp-screen","screen":S}, {"do":"mp-modal","screen":S}, {"do":"mp-modal-pop"}
// The feedback endpoint comes from TAMBERLO_FEEDBACK_URL.
#pragma once

#include <QJsonObject>
#include <QString>

// Runs the step when it is one of these; false when the action is not.
bool runFeedbackAndTrackerStep(const QString& action, const QJsonObject& step);
