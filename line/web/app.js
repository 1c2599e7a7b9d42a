// The line's dashboard. Every text from the records reaches the page as a
// text node or an attribute value, never as markup.
'use strict';

// A channel reaches the server within 2 s; asking every second puts it on
// the page within 3 s.
const refreshMs = 1000;
const token = new URLSearchParams(location.search).get('token') || '';
const svgNs = 'http://www.w3.org/2000/svg';
let filters = {};

function el(tag, attributes, ...children) {
  const node = document.createElement(tag);
  for (const [name, value] of Object.entries(attributes || {}))
    node.setAttribute(name, String(value));
  for (const child of children)
    node.append(child instanceof Node ? child : document.createTextNode(String(child)));
  return node;
}

function svg(tag, attributes, text) {
  const node = document.createElementNS(svgNs, tag);
  for (const [name, value] of Object.entries(attributes || {}))
    node.setAttribute(name, String(value));
  if (text !== undefined)
    node.textContent = String(text);
  return node;
}

async function api(path, extra) {
  const query = new URLSearchParams();
  for (const [name, value] of Object.entries(Object.assign({}, filters, extra || {})))
    if (value)
      query.set(name, value);
  const headers = token ? { 'X-Kestrune-Token': token } : {};
  const response = await fetch(path + '?' + query.toString(), { headers, cache: 'no-store' });
  const body = await response.json();
  if (!response.ok)
    throw new Error(body.error || response.statusText);
  return body;
}

function percentText(value) {
  return value === null || value === undefined ? '-' : (100 * value).toFixed(1) + ' %';
}

// Through the style object, which the page's policy allows, not a style
// attribute, which it does not.
function progressFill(percent) {
  const fill = el('div', { class: 'fill' });
  fill.style.width = Math.max(0, Math.min(100, percent)).toFixed(0) + '%';
  return fill;
}

function showStations(stations) {
  const box = document.getElementById('stations');
  const cards = stations.map(station => {
    const tiles = station.channels.map(channel =>
      el('div', { class: 'tile ' + channel.last_outcome, 'data-channel': channel.channel },
         el('div', {}, el('b', {}, channel.channel + ' '), channel.port),
         el('div', { class: 'phase' }, channel.phase),
         el('div', { class: 'bar' }, progressFill(channel.percent)),
         el('div', { class: 'outcome' }, channel.last_outcome || 'no run yet'),
         channel.serials ? el('div', { class: 'serials' }, channel.serials) : '',
         el('div', { class: 'text', title: channel.last_text }, channel.last_text)));
    return el('div', { class: 'station ' + (station.online ? 'online' : 'offline'),
                       'data-station': station.station },
              el('div', { class: 'station-head' },
                 el('span', { class: 'station-name' }, station.station),
                 el('span', { class: 'badge' }, station.online ? 'online' : 'offline'),
                 el('span', { class: 'updated' }, 'last heard ' + station.updated)),
              el('div', { class: 'tiles' }, ...tiles));
  });
  box.replaceChildren(...(cards.length ? cards : [el('p', {}, 'No station has written its state yet.')]));
}

function barChart(box, items, options) {
  const width = 520, rowHeight = 18, left = options.left || 160;
  const height = Math.max(1, items.length) * rowHeight + 4;
  const chart = svg('svg', { width, height, viewBox: `0 0 ${width} ${height}`, role: 'img' });
  const most = Math.max(1, ...items.map(i => i.value));
  items.forEach((item, row) => {
    const y = row * rowHeight + 2;
    const chars = options.chars || 28;
    const label = svg('text', { x: 2, y: y + 12 }, item.label.length > chars ? item.label.slice(0, chars - 1) + '…' : item.label);
    label.append(svg('title', {}, item.label));
    chart.append(label);
    const w = (width - left - 60) * item.value / most;
    chart.append(svg('rect', { x: left, y, width: Math.max(w, 0.5), height: rowHeight - 4, fill: item.colour || '#1565c0' }));
    chart.append(svg('text', { x: left + w + 4, y: y + 12 }, item.valueText));
  });
  box.replaceChildren(chart);
}

function showYield(rows) {
  const body = document.querySelector('#yield tbody');
  const stations = new Map();
  for (const r of rows) {
    const s = stations.get(r.station) || { station: r.station, passed: 0, failed: 0, first_runs: 0, first_passed: 0, rows: [] };
    s.passed += r.passed; s.failed += r.failed; s.first_runs += r.first_runs; s.first_passed += r.first_passed;
    s.rows.push(r);
    stations.set(r.station, s);
  }
  const lines = [];
  for (const s of stations.values()) {
    for (const r of s.rows)
      lines.push(el('tr', { 'data-station': r.station, 'data-channel': r.channel },
                    el('td', {}, r.station), el('td', { class: 'num' }, r.channel),
                    el('td', { class: 'num passed' }, r.passed), el('td', { class: 'num failed' }, r.failed),
                    el('td', { class: 'num fpy' }, percentText(r.first_pass_yield))));
    lines.push(el('tr', { class: 'total', 'data-station': s.station, 'data-channel': 'all' },
                  el('td', {}, s.station), el('td', {}, 'all'),
                  el('td', { class: 'num passed' }, s.passed), el('td', { class: 'num failed' }, s.failed),
                  el('td', { class: 'num fpy' }, percentText(s.first_runs ? s.first_passed / s.first_runs : null))));
  }
  body.replaceChildren(...lines);
  barChart(document.getElementById('yield-chart'), rows.map(r => ({
    label: r.station + ' / ' + r.channel,
    value: r.first_pass_yield === null ? 0 : r.first_pass_yield,
    valueText: percentText(r.first_pass_yield),
    colour: r.first_pass_yield !== null && r.first_pass_yield < 0.9 ? '#c62828' : '#2e7d32',
  })), {});
}

function showFailures(rows) {
  document.querySelector('#failures tbody').replaceChildren(...rows.map(r =>
    el('tr', {}, el('td', { class: 'kind' }, r.text), el('td', { class: 'num count' }, r.count))));
  barChart(document.getElementById('failures-chart'), rows.slice(0, 10).map(r => ({
    label: r.text, value: r.count, valueText: r.count, colour: '#c62828' })), { left: 260, chars: 44 });
}

function showHourly(rows) {
  const width = 520, height = 160, bottom = 20;
  const chart = svg('svg', { width, height, viewBox: `0 0 ${width} ${height}`, role: 'img' });
  const most = Math.max(1, ...rows.map(r => r.passed + r.failed));
  const step = width / Math.max(1, rows.length);
  rows.forEach((r, i) => {
    const x = i * step + 4, w = step - 8;
    const passedHeight = (height - bottom - 14) * r.passed / most;
    const failedHeight = (height - bottom - 14) * r.failed / most;
    chart.append(svg('rect', { x, y: height - bottom - passedHeight, width: w, height: passedHeight, fill: '#2e7d32' }));
    chart.append(svg('rect', { x, y: height - bottom - passedHeight - failedHeight, width: w, height: failedHeight, fill: '#c62828' }));
    chart.append(svg('text', { x, y: height - bottom - passedHeight - failedHeight - 2 }, r.passed + r.failed));
    chart.append(svg('text', { x, y: height - 6 }, r.hour.slice(11, 16)));
  });
  document.getElementById('hourly').replaceChildren(chart);
}

function showFound(rows) {
  document.querySelector('#found tbody').replaceChildren(...rows.map(r =>
    el('tr', {}, el('td', {}, r.started), el('td', {}, r.station), el('td', { class: 'num' }, r.channel),
       el('td', {}, r.outcome),
       el('td', {}, Object.entries(r.serials).map(([k, v]) => k + '=' + v).join(' ')),
       el('td', {}, r.final_status), el('td', {}, r.id))));
}

async function refresh() {
  const status = document.getElementById('status');
  // The figures shown are those of the moment they were asked for.
  const asked = Date.now();
  try {
    const [stations, yields, failures, hourly] = await Promise.all([
      api('/api/stations'), api('/api/yield'), api('/api/failures'), api('/api/hourly')]);
    showStations(stations);
    showYield(yields);
    showFailures(failures);
    showHourly(hourly);
    status.className = '';
    status.textContent = 'updated ' + new Date().toLocaleTimeString();
    document.body.dataset.refreshed = String(asked);
  } catch (failure) {
    status.className = 'error';
    status.textContent = String(failure.message || failure);
  }
}

async function search(text) {
  try {
    showFound(await api('/api/search', { q: text }));
  } catch (failure) {
    document.getElementById('status').textContent = String(failure.message || failure);
  }
}

document.getElementById('filters').addEventListener('submit', event => {
  event.preventDefault();
  filters = Object.fromEntries(new FormData(event.target).entries());
  refresh();
});
document.getElementById('search').addEventListener('submit', event => {
  event.preventDefault();
  search(new FormData(event.target).get('q'));
});
refresh();
setInterval(refresh, refreshMs);
